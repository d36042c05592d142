"""Result codes and the exceptions a call raises.

HRESULTs are kept as unsigned 32-bit numbers (0x80004005), the way a COM programmer writes
them, so they compare with the constants below.
"""

S_OK = 0x00000000
E_FAIL = 0x80004005
E_INVALIDARG = 0x80070057
E_OUTOFMEMORY = 0x8007000E
E_NOINTERFACE = 0x80004002
E_UNEXPECTED = 0x8000FFFF
E_ACCESSDENIED = 0x80070005
REGDB_E_CLASSNOTREG = 0x80040154
REGDB_E_IIDNOTREG = 0x80040155
CONTEXT_E_SYNCH_TIMEOUT = 0x8004E006
RPC_S_SERVER_UNAVAILABLE = 0x800706BA
ERROR_TIMEOUT = 0x800705B4
DISP_E_UNKNOWNNAME = 0x80020006
DISP_E_TYPEMISMATCH = 0x80020005
DISP_E_OVERFLOW = 0x8002000A
DISP_E_BADPARAMCOUNT = 0x8002000E
RPC_E_DISCONNECTED = 0x80010108

_NAMES = {
    S_OK: "S_OK",
    E_FAIL: "E_FAIL",
    E_INVALIDARG: "E_INVALIDARG",
    E_OUTOFMEMORY: "E_OUTOFMEMORY",
    E_NOINTERFACE: "E_NOINTERFACE",
    E_UNEXPECTED: "E_UNEXPECTED",
    E_ACCESSDENIED: "E_ACCESSDENIED",
    REGDB_E_CLASSNOTREG: "REGDB_E_CLASSNOTREG",
    REGDB_E_IIDNOTREG: "REGDB_E_IIDNOTREG",
    CONTEXT_E_SYNCH_TIMEOUT: "CONTEXT_E_SYNCH_TIMEOUT",
    RPC_S_SERVER_UNAVAILABLE: "RPC_S_SERVER_UNAVAILABLE",
    ERROR_TIMEOUT: "ERROR_TIMEOUT",
    DISP_E_UNKNOWNNAME: "DISP_E_UNKNOWNNAME",
    DISP_E_TYPEMISMATCH: "DISP_E_TYPEMISMATCH",
    DISP_E_OVERFLOW: "DISP_E_OVERFLOW",
    DISP_E_BADPARAMCOUNT: "DISP_E_BADPARAMCOUNT",
    RPC_E_DISCONNECTED: "RPC_E_DISCONNECTED",
}


def hresult_name(hr):
    """The symbolic name of a code ("E_FAIL"), or its hex text when it has none."""
    hr &= 0xFFFFFFFF
    return _NAMES.get(hr, "0x%08X" % hr)


def parse_hresult(value, fallback):
    """The number of a "0x80004005" text from the server, or `fallback`."""
    if not isinstance(value, str):
        return fallback
    try:
        number = int(value, 16)
    except ValueError:
        return fallback
    return number if 0 <= number <= 0xFFFFFFFF else fallback


def failed(hr):
    return bool(hr & 0x80000000)


class VektaError(Exception):
    """A call that did not succeed. `hresult` is the code a COM client would see."""

    def __init__(self, hresult, message="", status=None, name=None):
        self.hresult = hresult & 0xFFFFFFFF
        self.hresult_name = name or hresult_name(self.hresult)
        self.message = message
        self.status = status  # the HTTP status, None when no answer came
        text = "%s (0x%08X)" % (self.hresult_name, self.hresult)
        super().__init__("%s: %s" % (message, text) if message else text)


class ProtocolError(VektaError):
    """The server refused the request before anything ran: bad arguments, an unknown member
    or object, a refused token, Host or Origin, an Idempotency-Key used for another call."""


class TransportError(VektaError):
    """No answer: no server (RPC_S_SERVER_UNAVAILABLE) or none in time (ERROR_TIMEOUT)."""


class CallFailed(VektaError):
    """An Orbis call that ran and failed. `out` holds the [out] values the member set anyway
    (a fiscal line's ThisLineSum of -1); the printer's own text is GetLastErrorMessage()."""

    def __init__(self, member, hresult, out=None, name=None):
        self.member = member
        self.out = dict(out or {})
        super().__init__(hresult, "%s failed" % member, status=200, name=name)
