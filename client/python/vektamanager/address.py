"""Server names, as the C++ client library and vektactl read them, and whom a token goes to."""

import dataclasses
import os

DEFAULT_PORT = 8460

_HOST_CHARS = frozenset("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_:")


@dataclasses.dataclass
class ServerAddress:
    host: str = "127.0.0.1"
    port: int = DEFAULT_PORT
    tls: bool = False
    token: str = dataclasses.field(default="", repr=False)  # Authorization: Bearer when set
    # HTTPS: the certificate is checked against the system's CAs, or this file's.
    cafile: str = ""
    insecure: bool = False  # skip the check (a test server's self-signed certificate)

    def url(self):
        host = "[%s]" % self.host if ":" in self.host else self.host
        return "%s://%s:%d" % ("https" if self.tls else "http", host, self.port)

    def is_loopback(self):
        host = self.host.lower()
        return host == "localhost" or host == "::1" or host.startswith("127.")


def parse_server_name(text, default_port=DEFAULT_PORT):
    """A ServerAddress for "name", "name:port", "\\\\name", "\\\\name:port", "[::1]:port",
    "http://name:port" or "https://name:port" (the backslashes are dropped); None for an empty
    or malformed name."""
    rest = text.lstrip(" \\").rstrip(" ")
    address = ServerAddress(port=default_port)
    if rest.startswith("https://"):
        address.tls = True
        rest = rest[8:]
    elif rest.startswith("http://"):
        rest = rest[7:]
    rest = rest.rstrip("/")
    if not rest:
        return None
    port_text = ""
    if rest[0] == "[":
        close = rest.find("]")
        if close < 0:
            return None
        address.host = rest[1:close]
        if close + 1 < len(rest):
            if rest[close + 1] != ":":
                return None
            port_text = rest[close + 2:]
    elif rest.count(":") == 1:
        address.host, port_text = rest.split(":")
    else:
        # a bare IPv6 address has several colons and no port
        address.host = rest
    if not address.host or any(c not in _HOST_CHARS for c in address.host):
        return None
    if port_text or rest.endswith(":"):
        if not port_text or len(port_text) > 5 or not all("0" <= c <= "9" for c in port_text):
            return None
        address.port = int(port_text)
        if not 1 <= address.port <= 65535:
            return None
    return address


def token_goes_to(address, token_hosts):
    """Whether a token configured for other servers may be sent to `address`: only to a server
    named in `token_hosts`, each "name" (any port) or "name:port" ("[::1]:8460" for an IPv6
    address), compared exactly but without regard to case. An empty list sends it nowhere."""
    host = address.host.lower()
    for entry in token_hosts:
        # an entry is read as a server name is; port 0 stands for any port
        allowed = parse_server_name(entry, 0)
        if allowed is None:
            continue
        if allowed.host.lower() == host and allowed.port in (0, address.port):
            return True
    return False


def default_server_name():
    """$VEKTA_SERVER, else the local server."""
    return os.environ.get("VEKTA_SERVER") or "127.0.0.1"


def default_token():
    """$VEKTA_TOKEN, else none."""
    return os.environ.get("VEKTA_TOKEN", "")
