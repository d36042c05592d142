"""A loopback link between a client and the real daemon that loses one answer, as a pulled
cable or a stalled network does: every request goes through to the daemon, and the answer to
the first request whose line holds `target` never reaches the client. With "reset" the
connection is closed instead of answering; with "hold" the answer is kept back for `hold`
seconds (past the client's time-out) and the connection is then closed. With `idle` it closes
a keep-alive connection that has had no request for that many seconds, as a server does."""

import socket
import threading
import time

IO_TIMEOUT = 30.0


def _read_message(sock, buffer, stop, idle=None):
    """One HTTP message (head and Content-Length body) from `sock`: (bytes, rest), or None
    when the peer closed, `stop` was set, a message began and did not end in time, or none
    began within `idle` seconds."""
    started = time.monotonic()
    deadline = started + IO_TIMEOUT

    def more():
        while not stop.is_set():
            try:
                return sock.recv(65536)
            except socket.timeout:
                # an idle keep-alive connection waits; a message begun must end in time
                if buffer and time.monotonic() > deadline:
                    return b""
                if not buffer and idle is not None and time.monotonic() > started + idle:
                    return b""
        return b""

    while b"\r\n\r\n" not in buffer:
        chunk = more()
        if not chunk:
            return None
        buffer += chunk
    head, _, rest = buffer.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(rest) < length:
        chunk = more()
        if not chunk:
            return None
        rest += chunk
    return head + b"\r\n\r\n" + rest[:length], rest[length:]


class LossyLink:
    def __init__(self, upstream_port, target=None, mode="reset", hold=0.0, idle=None):
        self.upstream_port = upstream_port
        self.target = target.encode() if target else None
        self.mode = mode
        self.hold = hold
        self.idle = idle
        self.requests = []  # the request lines that went through, lost answer included
        self.lost = 0
        self.connections = 0
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._listener = socket.create_server(("127.0.0.1", 0))
        self._listener.settimeout(0.2)
        self.port = self._listener.getsockname()[1]
        self._threads = [threading.Thread(target=self._accept, daemon=True)]
        self._threads[0].start()

    @property
    def server(self):
        return "127.0.0.1:%d" % self.port

    def close(self):
        self._stop.set()
        for t in list(self._threads):
            t.join(IO_TIMEOUT)
        self._listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _accept(self):
        while not self._stop.is_set():
            try:
                conn, _ = self._listener.accept()
            except socket.timeout:
                continue
            with self._lock:
                self.connections += 1
            t = threading.Thread(target=self._serve, args=(conn,), daemon=True)
            self._threads.append(t)
            t.start()

    def _serve(self, client):
        client.settimeout(min(1.0, self.idle or 1.0))
        upstream = socket.create_connection(("127.0.0.1", self.upstream_port), IO_TIMEOUT)
        upstream.settimeout(1.0)
        pending = b""
        try:
            while True:
                got = _read_message(client, pending, self._stop, self.idle)
                if got is None:
                    return
                request, pending = got
                line = request.split(b"\r\n", 1)[0]
                upstream.sendall(request)
                answer = _read_message(upstream, b"", self._stop)
                if answer is None:
                    return
                with self._lock:
                    self.requests.append(line.decode("latin-1"))
                    lose = self.lost == 0 and self.target is not None and self.target in line
                    if lose:
                        self.lost += 1
                if lose:
                    if self.mode == "hold":
                        self._stop.wait(self.hold)
                    return
                client.sendall(answer[0])
        except OSError:
            return
        finally:
            client.close()
            upstream.close()
