"""What a program is told when a call does not succeed: the HRESULT (number and name), the
server's reason, and nothing printed."""

import pytest

import vektamanager
from vektamanager.testing import free_port


def test_refused_requests_raise_with_their_hresult_and_reason(client, orbis, daemon):
    orbis.OpenCheck("Бакалея")
    cases = [
        # member, arguments, HRESULT, HTTP status, a word of the reason
        ("Feed", ["five"], vektamanager.DISP_E_TYPEMISMATCH, 400, "LinesToFeed"),
        ("Feed", [2 ** 40], vektamanager.DISP_E_OVERFLOW, 400, "range"),
        ("Feed", [], vektamanager.DISP_E_BADPARAMCOUNT, 400, "arguments"),
        ("FiscalLine", {"GoodsName": "Чай", "Qty": 1}, vektamanager.DISP_E_BADPARAMCOUNT, 400, ""),
        ("NoSuchMember", [], vektamanager.DISP_E_UNKNOWNNAME, 400, "NoSuchMember"),
        ("FiscalLine", ["\udcff", 1, 100, 0, 1, 0, 1], vektamanager.E_INVALIDARG, 400, "UTF-8"),
    ]
    for member, args, hr, status, word in cases:
        with pytest.raises(vektamanager.ProtocolError) as e:
            orbis.call(member, **args) if isinstance(args, dict) else orbis.call(member, *args)
        assert (e.value.hresult, e.value.status) == (hr, status), member
        assert e.value.hresult_name == vektamanager.hresult_name(hr) != ""
        assert word in e.value.message and "0x%08X" % hr in str(e.value)
    # none of them reached the printer: the receipt is still empty
    assert orbis.GetCheckSum() == 0
    orbis.AbortCheck()

    with pytest.raises(vektamanager.ProtocolError) as e:
        client.create("VektaManager.NoSuchClass")
    assert e.value.hresult == vektamanager.REGDB_E_CLASSNOTREG

    # a missing argument of a typelib method is a Python error, before any request
    with pytest.raises(TypeError):
        orbis.FiscalLine("Чай", 1, 100)


def test_a_failed_call_raises_with_its_out_values(orbis):
    # a fiscal line with no receipt open runs and fails
    with pytest.raises(vektamanager.CallFailed) as e:
        orbis.FiscalLine("Чай", 1, 100, 0, 1, 0, 1)
    assert e.value.hresult == vektamanager.E_FAIL and e.value.hresult_name == "E_FAIL"
    assert e.value.member == "FiscalLine" and e.value.out == {"ThisLineSum": -1}
    assert e.value.status == 200


def test_a_released_or_expired_object_is_disconnected(client):
    obj = client.orbis()
    stale = client.attach(obj.object_id)
    obj.close()
    obj.close()  # a second release is nothing
    with pytest.raises(vektamanager.ProtocolError) as e:
        stale.GetCheckSum()
    assert (e.value.hresult, e.value.status) == (vektamanager.RPC_E_DISCONNECTED, 404)
    with pytest.raises(vektamanager.ProtocolError):
        obj.GetCheckSum()


def test_no_server_is_server_unavailable(tmp_path):
    port = free_port()
    with vektamanager.Client("127.0.0.1:%d" % port, start_on_demand=False) as c:
        with pytest.raises(vektamanager.TransportError) as e:
            c.orbis()
        assert e.value.hresult == vektamanager.RPC_S_SERVER_UNAVAILABLE and e.value.status is None
    # nothing registered where it looks: it says so instead of starting anything
    with vektamanager.Client("127.0.0.1:%d" % port, manifest_dirs=[str(tmp_path)]) as c:
        with pytest.raises(vektamanager.TransportError) as e:
            c.orbis()
        assert "none registered" in e.value.message
    with pytest.raises(ValueError):
        vektamanager.Client("bad host name:1")
