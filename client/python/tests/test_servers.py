"""Which server a client reaches, with which token, and a registered server started on demand:
the rules of the C++ client library and vektactl."""

import os
import shutil
import subprocess
import time

import pytest

import vektamanager
from vektamanager import parse_server_name, token_goes_to
from vektamanager.testing import LocalDaemon


def test_server_names_read_as_the_cpp_client_reads_them():
    good = {
        "name": ("name", 8460, False),
        "name:9000": ("name", 9000, False),
        "\\\\name": ("name", 8460, False),
        "\\\\name:9000": ("name", 9000, False),
        " 10.0.0.7 ": ("10.0.0.7", 8460, False),
        "http://name": ("name", 8460, False),
        "https://name:9443/": ("name", 9443, True),
        "[::1]:9000": ("::1", 9000, False),
        "::1": ("::1", 8460, False),
    }
    for text, expected in good.items():
        a = parse_server_name(text)
        assert (a.host, a.port, a.tls) == expected, text
    for text in ["", "\\\\", "name:", "name:0", "name:65536", "name:12ab", "name:123456",
                 "[::1", "[::1]9000", "[]:1", "na me", "name/api", "ім'я"]:
        assert parse_server_name(text) is None, text
    assert parse_server_name("::1").url() == "http://[::1]:8460"

    at = parse_server_name("127.0.0.1:9000")
    assert not token_goes_to(at, [])  # no list: the token goes nowhere
    assert not token_goes_to(at, ["127.0.0.10", "127.0.0.1:1", "127.0.0", "localhost",
                                  "[127.0.0.1", "example.org"])
    assert token_goes_to(at, ["other", "127.0.0.1"])  # the name, any port
    assert token_goes_to(at, ["127.0.0.1:9000"])
    assert token_goes_to(parse_server_name("http://LocalHost:9000"), ["LOCALHOST:9000"])
    assert token_goes_to(parse_server_name("[::1]:9000"), ["[::1]:9000"])


@pytest.fixture
def guarded(tmp_path, monkeypatch):
    """A daemon that wants `Authorization: Bearer s3cret` from other computers; a wrong token
    is refused from anywhere, and this computer may come without one. Its folder is given
    relative to the working one."""
    monkeypatch.chdir(tmp_path)
    with LocalDaemon(settings={"Server": {"Token": "s3cret"}}, directory="daemon") as d:
        yield d


def reaches(client):
    """True when the server took the request, False when it refused the token."""
    try:
        client.get("/api/v1/about")
        return True
    except vektamanager.ProtocolError as e:
        assert (e.status, e.hresult) == (401, vektamanager.E_ACCESSDENIED)
        return False


def test_the_token_goes_where_the_rules_send_it(guarded, monkeypatch):
    # the server and token of the environment, as vektactl takes them
    monkeypatch.setenv("VEKTA_SERVER", guarded.server)
    monkeypatch.setenv("VEKTA_TOKEN", "wrong")
    with vektamanager.Client(start_on_demand=False) as c:
        assert c.address.port == guarded.port and not reaches(c)
    with vektamanager.Client(token="s3cret", start_on_demand=False) as c:
        assert reaches(c)
        with c.orbis() as orbis:
            orbis.Init(1, "Касир", "7777777777", 0, "with-token")
    monkeypatch.delenv("VEKTA_TOKEN")
    with vektamanager.Client(start_on_demand=False) as c:
        assert reaches(c)  # loopback without a token

    # another server's token (the [Remote] rules): only to the hosts named for it
    port = guarded.port
    for host, hosts, sent in [
        (guarded.server, [], False),
        (guarded.server, ["localhost", "127.0.0.1:1", "127.0.0.10"], False),
        (guarded.server, ["other", "127.0.0.1"], True),
        ("\\\\127.0.0.1:%d" % port, ["127.0.0.1:%d" % port], True),
        ("http://LocalHost:%d" % port, ["LOCALHOST:%d" % port], True),
    ]:
        with vektamanager.Client.remote(host, token="wrong", token_hosts=hosts) as c:
            assert reaches(c) != sent, (host, hosts)
    with vektamanager.Client.remote(guarded.server, "s3cret", ["127.0.0.1"]) as c:
        assert reaches(c)


def test_over_https_the_certificate_is_checked_before_anything_goes(tmp_path):
    cert, key = str(tmp_path / "cert.pem"), str(tmp_path / "key.pem")
    made = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                           "-keyout", key, "-out", cert, "-days", "1", "-subj", "/CN=localhost",
                           "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                          capture_output=True, timeout=60) if shutil.which("openssl") else None
    if made is None or made.returncode != 0:
        pytest.skip("no openssl to make a certificate")
    settings = {"Server": {"CertFile": cert, "KeyFile": key, "Token": "s3cret"}}
    with LocalDaemon(settings=settings) as daemon:
        url = "https://localhost:%d" % daemon.port
        with vektamanager.Client(url, "s3cret", cafile=cert, start_on_demand=False) as c:
            assert reaches(c)
            with c.orbis() as orbis:
                orbis.Init(1, "Касир", "7777777777", 0, "over-tls")
        # a certificate the system's CAs do not vouch for: no request, so no token, goes out
        with vektamanager.Client(url, "s3cret", start_on_demand=False) as c:
            with pytest.raises(vektamanager.TransportError) as e:
                c.get("/api/v1/about")
            assert e.value.hresult == vektamanager.RPC_S_SERVER_UNAVAILABLE
            assert "CERTIFICATE" in e.value.message.upper()
        with vektamanager.Client(url, insecure=True, start_on_demand=False) as c:
            assert reaches(c)
        # plain HTTP gets no answer from the TLS listener
        with vektamanager.Client("127.0.0.1:%d" % daemon.port, timeout=2,
                                 start_on_demand=False) as c:
            with pytest.raises(vektamanager.TransportError):
                c.get("/api/v1/about")


def pid_listening_on(port):
    """The process listening on a loopback TCP port, from /proc (the server started on demand
    is nobody's child)."""
    inode = None
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[1].endswith(":%04X" % port) and fields[3] == "0A":
                inode = fields[9]
    if inode is None:
        return None
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            for fd in os.listdir("/proc/%s/fd" % pid):
                if os.readlink("/proc/%s/fd/%s" % (pid, fd)) == "socket:[%s]" % inode:
                    return int(pid)
        except OSError:
            continue
    return None


def test_a_registered_server_is_started_on_demand_and_ends_with_its_last_object():
    daemon = LocalDaemon()
    daemon.port = vektamanager.testing.free_port()
    daemon.write_settings()
    assert subprocess.run(daemon.command("/Regserver"), timeout=30).returncode == 0
    registered = os.path.join(daemon.directory, "reg")
    try:
        with vektamanager.Client(daemon.server, manifest_dirs=[registered]) as client:
            assert not client.healthy(0.5)
            # An object asked for as soon as the last one went, while that server ends: the
            # next server is started for it.
            for _ in range(3):
                with client.orbis() as orbis:
                    orbis.Init(1, "Касир", "7777777777", 0, "on-demand")
                    assert orbis.GetPrinterSerialNumber()
                    about = client.get("/api/v1/about")
                    assert about["startedOnDemand"] is True
            # its last object is gone: the process ends by itself
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline and client.healthy(0.2):
                time.sleep(0.1)
            assert not client.healthy(0.5)
    finally:
        pid = pid_listening_on(daemon.port)
        if pid is not None and b"/Embedding" in open("/proc/%d/cmdline" % pid, "rb").read():
            os.kill(pid, 9)  # the server this test started did not end
        daemon.remove()
