"""Python client of VektaManager: the Orbis and VektaManager objects of a server over its
HTTP/JSON object protocol.

    import vektamanager

    with vektamanager.Client() as client, client.orbis() as orbis:
        orbis.Init(1, "Касир", "7777777777", 0, "POS")
        orbis.OpenCheck("Бакалея")
        orbis.FiscalLine(GoodsName="Хліб", Qty=1, Price=1850, GoodsDividual=0,
                         Tax1Index=1, Tax2Index=0, Article=101)        # -> 1850
        orbis.CloseCheckEx(5000, 0, 0, 0)
"""

from .address import DEFAULT_PORT, ServerAddress, parse_server_name, token_goes_to
from .client import Client
from .errors import (CONTEXT_E_SYNCH_TIMEOUT, DISP_E_BADPARAMCOUNT, DISP_E_OVERFLOW,
                     DISP_E_TYPEMISMATCH, DISP_E_UNKNOWNNAME, E_ACCESSDENIED, E_FAIL,
                     E_INVALIDARG, E_UNEXPECTED, ERROR_TIMEOUT, REGDB_E_CLASSNOTREG,
                     RPC_E_DISCONNECTED, RPC_S_SERVER_UNAVAILABLE, S_OK, CallFailed,
                     ProtocolError, TransportError, VektaError, hresult_name)
from .objects import CallInfo, RemoteObject

__version__ = "1.5.0.15"

__all__ = [
    "Client", "ServerAddress", "parse_server_name", "token_goes_to", "DEFAULT_PORT",
    "RemoteObject", "CallInfo", "VektaError", "ProtocolError", "TransportError", "CallFailed",
    "hresult_name", "S_OK", "E_FAIL", "E_INVALIDARG", "E_UNEXPECTED", "E_ACCESSDENIED",
    "REGDB_E_CLASSNOTREG", "CONTEXT_E_SYNCH_TIMEOUT", "RPC_S_SERVER_UNAVAILABLE",
    "ERROR_TIMEOUT", "DISP_E_UNKNOWNNAME", "DISP_E_TYPEMISMATCH", "DISP_E_OVERFLOW",
    "DISP_E_BADPARAMCOUNT", "RPC_E_DISCONNECTED",
]
