"""Keeps the leases of a client's objects alive: a daemon thread pings each object at a third
of its lease. A program that dies stops pinging, and the server then releases its objects when
their leases run out."""

import itertools
import threading
import time

from . import errors

MIN_INTERVAL = 0.05


class LeaseKeeper:
    def __init__(self):
        self._wake = threading.Condition()
        self._leases = {}  # ticket -> [connection, object id, interval, next]; guarded by _wake
        self._tickets = itertools.count(1)
        self._pings = 0  # guarded by _wake
        self._stop = False  # guarded by _wake
        self._thread = None

    def keep(self, connection, object_id, lease_ms):
        """Starts pinging; returns a ticket for forget()."""
        interval = max(MIN_INTERVAL, lease_ms / 3000.0)
        with self._wake:
            if self._stop:
                raise RuntimeError("the lease keeper was stopped")
            ticket = next(self._tickets)
            self._leases[ticket] = [connection, object_id, interval, time.monotonic() + interval]
            if self._thread is None:
                self._thread = threading.Thread(target=self._run, name="vekta-lease-keeper",
                                                daemon=True)
                self._thread.start()
            self._wake.notify_all()
        return ticket

    def forget(self, ticket):
        with self._wake:
            self._leases.pop(ticket, None)

    def count(self):
        with self._wake:
            return len(self._leases)

    @property
    def pings_sent(self):
        with self._wake:
            return self._pings

    def stop(self, timeout=5.0):
        with self._wake:
            self._stop = True
            self._leases.clear()
            self._wake.notify_all()
            thread = self._thread
        if thread is not None and thread is not threading.current_thread():
            thread.join(timeout)

    def _run(self):
        with self._wake:
            while not self._stop:
                now = time.monotonic()
                due = []
                for ticket, lease in self._leases.items():
                    if lease[3] <= now:
                        due.append((ticket, lease[0], lease[1]))
                        lease[3] = now + lease[2]
                if due:
                    self._pings += len(due)
                    self._wake.release()
                    try:
                        gone = [t for t, connection, object_id in due
                                if _ping(connection, object_id)]
                    finally:
                        self._wake.acquire()
                    for ticket in gone:
                        self._leases.pop(ticket, None)
                    continue
                nearest = min((lease[3] for lease in self._leases.values()), default=now + 3600)
                self._wake.wait(max(0.0, nearest - now))


def _ping(connection, object_id):
    """Pings once; True when the server no longer knows the object (nothing more to keep).

    `connection` should carry no calls: a ping behind a long call comes too late for the
    other objects' leases."""
    answer = connection.request("POST", "/api/v1/objects/%s/ping" % object_id)
    return answer.status == 404 and answer.hresult == errors.RPC_E_DISCONNECTED
