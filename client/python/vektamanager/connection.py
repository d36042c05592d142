"""One keep-alive HTTP connection to a server and the object protocol requests on it.

Every failure becomes the HRESULT a COM client would see: no server RPC_S_SERVER_UNAVAILABLE,
no answer in time ERROR_TIMEOUT, a refused token E_ACCESSDENIED, a released object
RPC_E_DISCONNECTED, and the server's own code for a request it refused.
"""

import http.client
import json
import select
import socket
import ssl
import threading
import time

from . import errors

CONNECT_TIMEOUT = 3.0
WRITE_TIMEOUT = 10.0
# The server closes a keep-alive connection idle for 60 s, and a proxy on the way may close one
# sooner; one idle this long is not reused, so that a request never crosses a close on the way.
IDLE_REUSE = 4.0
# A socket's wait goes to poll() in int milliseconds: a longer one would wrap to a short one.
LONGEST_READ = (2 ** 31 - 1) / 1000.0


class Answer:
    """What came back: the HTTP status (0 when nothing came), the JSON body, and the headers."""

    def __init__(self, status=0, body=None, headers=None, hresult=errors.S_OK, error="",
                 unsent=False):
        self.status = status
        self.body = body
        self.headers = headers or {}
        self.hresult = hresult  # S_OK for a 2xx
        self.error = error  # the server's error text, or what went wrong on the way
        self.unsent = unsent  # lost before the request went out: no connection

    @property
    def lost(self):
        return self.status == 0

    @property
    def ok(self):
        return 200 <= self.status < 300

    def raise_for_error(self):
        """Raises TransportError for a lost answer, ProtocolError for a refusal."""
        if self.lost:
            raise errors.TransportError(self.hresult, self.error)
        if not self.ok:
            raise errors.ProtocolError(self.hresult, self.error, status=self.status)
        return self


def _ssl_context(address):
    if address.insecure:
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        return context
    # a token goes only to a server whose certificate checks out
    return ssl.create_default_context(cafile=address.cafile or None)


class Connection:
    """Requests go one at a time on the kept connection. One that finds another on its way goes
    on a connection of its own: behind a call that waits on the server (a printer lock, a
    prompt), it would wait for what it may be there to end, such as the unlock of the holder
    that call waits for."""

    def __init__(self, address, timeout=180.0):
        self.address = address
        self.timeout = timeout  # the longest wait for an answer
        self._lock = threading.Lock()
        self._http = None  # guarded by _lock
        self._last_used = 0.0  # guarded by _lock
        self._requests = 0  # on their way, those waiting for _lock included; guarded by _count
        self._count = threading.Lock()

    def close(self):
        with self._lock:
            self._drop()

    def _drop(self):
        if self._http is not None:
            self._http.close()
            self._http = None

    def _open(self):
        a = self.address
        wait = min(CONNECT_TIMEOUT, self.timeout)
        if a.tls:
            conn = http.client.HTTPSConnection(a.host, a.port, timeout=wait,
                                               context=_ssl_context(a))
        else:
            conn = http.client.HTTPConnection(a.host, a.port, timeout=wait)
        try:
            conn.connect()
            conn.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        except BaseException:
            conn.close()
            raise
        return conn

    def _stale(self):
        # A connection the server has closed is readable (end of file) before anything was
        # sent on it, and a request written into it would be lost.
        sock = self._http.sock if self._http is not None else None
        if sock is None or time.monotonic() - self._last_used > IDLE_REUSE:
            return True
        try:
            readable, _, _ = select.select([sock], [], [], 0)
        except (OSError, ValueError):
            return True
        return bool(readable)

    def request(self, method, path, body=None, headers=None, timeout=None):
        """One request; never raises for a failure, which is in the Answer. `timeout` replaces
        the connection's wait for this answer."""
        with self._count:
            beside = self._requests > 0
            self._requests += 1
        try:
            if not beside:
                return self._request(method, path, body, headers, timeout)
            side = Connection(self.address, self.timeout)
            try:
                return side._request(method, path, body, headers, timeout)
            finally:
                side.close()
        finally:
            with self._count:
                self._requests -= 1

    def _request(self, method, path, body, headers, timeout):
        wait = min(self.timeout if timeout is None else timeout, LONGEST_READ)
        send = {"Accept": "application/json"}
        if self.address.token:
            send["Authorization"] = "Bearer " + self.address.token
        data = None
        if body is not None:
            try:
                data = json.dumps(body, ensure_ascii=False).encode("utf-8")
            except UnicodeEncodeError as e:
                # A text that is no Unicode (undecodable bytes kept as surrogates): refused
                # here as the server would refuse it, and nothing goes out.
                return Answer(400, None, {}, errors.E_INVALIDARG,
                              "the body is not valid UTF-8 (%s)" % e)
            send["Content-Type"] = "application/json"
        if headers:
            send.update(headers)
        for name, value in send.items():
            # A header line carries printable ASCII only: anything else would fail half-way
            # through the request, or (a line break) add lines of its own. Nothing goes out.
            # (A number is sent as its digits.)
            text = value.decode("latin-1") if isinstance(value, bytes) else str(value)
            if not all(" " <= c <= "~" for c in text):
                return Answer(400, None, {}, errors.E_INVALIDARG,
                              "%s must be printable ASCII" % name)
        with self._lock:
            started = time.monotonic()
            if self._stale():
                self._drop()
                try:
                    self._http = self._open()
                except (socket.timeout, TimeoutError):
                    return Answer(hresult=errors.ERROR_TIMEOUT, unsent=True,
                                  error="no connection within %g s"
                                  % min(CONNECT_TIMEOUT, self.timeout))
                except (OSError, http.client.HTTPException) as e:
                    return Answer(hresult=errors.RPC_S_SERVER_UNAVAILABLE, unsent=True,
                                  error="%s: %s" % (type(e).__name__, e))
            try:
                self._http.sock.settimeout(WRITE_TIMEOUT)
                self._http.request(method, path, body=data, headers=send)
                self._http.sock.settimeout(wait)
                response = self._http.getresponse()
                raw = response.read()
                status = response.status
                received = {k.lower(): v for k, v in response.getheaders()}
                if response.will_close:
                    self._drop()
                self._last_used = time.monotonic()
            except (socket.timeout, TimeoutError):
                self._drop()
                return Answer(hresult=errors.ERROR_TIMEOUT,
                              error="no answer after %.1f s" % (time.monotonic() - started))
            except (OSError, http.client.HTTPException) as e:
                self._drop()
                return Answer(hresult=errors.RPC_S_SERVER_UNAVAILABLE,
                              error="%s: %s" % (type(e).__name__, e))
            except BaseException:
                self._drop()  # half-sent: the connection cannot carry the next request
                raise
        return _finish(status, raw, received)

    def get(self, path):
        return self.request("GET", path)

    def healthy(self, timeout):
        """Whether /healthz answers within `timeout` seconds, on a connection of its own."""
        probe = Connection(self.address, timeout=timeout)
        try:
            return probe.request("GET", "/healthz").status == 200
        finally:
            probe.close()


def _finish(status, raw, headers):
    text = raw.decode("utf-8", errors="replace")
    try:
        body = json.loads(text) if text else None
    except ValueError:
        body = text
    answer = Answer(status, body, headers)
    if answer.ok:
        return answer
    fallback = errors.E_FAIL
    if status in (401, 403):
        fallback = errors.E_ACCESSDENIED
    elif status == 404:
        fallback = errors.RPC_E_DISCONNECTED
    if isinstance(body, dict):
        answer.hresult = errors.parse_hresult(body.get("hresult"), fallback)
        answer.error = str(body.get("error", ""))
    else:
        answer.hresult = fallback
        answer.error = "HTTP %d" % status
    if status == 401:
        answer.hresult = errors.E_ACCESSDENIED
    return answer
