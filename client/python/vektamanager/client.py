"""A client of one VektaManager server: it makes the objects, keeps their leases, and releases
what is left when it is closed."""

import dataclasses
import threading
import weakref

from . import errors
from .address import (DEFAULT_PORT, ServerAddress, default_server_name, default_token,
                      parse_server_name, token_goes_to)
from .connection import Connection
from .launcher import ensure_server
from .lease import LeaseKeeper
from .objects import make_class

# A ping is answered at once; one that is not has its next turn a third of a lease later.
PING_TIMEOUT = 5.0


class Client:
    """Objects of the server `server` ("name", "name:port", "\\\\name", "[::1]:port", or an
    http:// or https:// URL; default $VEKTA_SERVER, else 127.0.0.1:8460). `token` is sent to
    that server as a bearer token (default $VEKTA_TOKEN).

    A loopback server that does not answer is started on demand when one is registered
    (`start_on_demand`; the manifest is looked for in `manifest_dirs`, default
    $VEKTA_REGISTRATION_DIR, ~/.config/vektamanager, /etc/vektamanager). `timeout` is the
    longest wait for an answer, in seconds: a call may wait for a report or a prompt."""

    def __init__(self, server=None, token=None, *, cafile="", insecure=False, timeout=180.0,
                 start_on_demand=True, manifest_dirs=None, keep_leases=True):
        if isinstance(server, ServerAddress):
            address = dataclasses.replace(server)
        else:
            name = default_server_name() if server is None else server
            address = parse_server_name(name)
            if address is None:
                raise ValueError("cannot read the server name %r" % name)
            address.token = default_token()
        if token is not None:
            address.token = token
        address.cafile = cafile or address.cafile
        address.insecure = insecure or address.insecure
        self.address = address
        self.start_on_demand = start_on_demand
        self.manifest_dirs = manifest_dirs
        self._connection = Connection(address, timeout)
        self._keeper = LeaseKeeper() if keep_leases else None
        # Pings have a connection of their own: on the calls' one they would wait behind a
        # prompt or a printer lock, and the other objects' leases would run out meanwhile.
        self._pings = Connection(address, min(timeout, PING_TIMEOUT)) if keep_leases else None
        self._lock = threading.Lock()
        self._typelib = None  # guarded by _lock
        self._classes = {}  # class name -> made class; guarded by _lock
        self._objects = weakref.WeakSet()  # owned objects not yet released; guarded by _lock
        self._closed = False

    @classmethod
    def remote(cls, host, token="", token_hosts=(), default_port=DEFAULT_PORT, **options):
        """A client of another computer's server, as VektaManager's InitEx reaches it: `token`
        (the [Remote] Token) goes only to a host named in `token_hosts` ([Remote] Hosts)."""
        address = parse_server_name(host, default_port)
        if address is None:
            raise errors.TransportError(errors.RPC_S_SERVER_UNAVAILABLE,
                                        "cannot read the server name %r" % host)
        address.token = token if token and token_goes_to(address, token_hosts) else ""
        options.setdefault("start_on_demand", False)
        return cls(address, **options)

    def __repr__(self):
        return "<vektamanager.Client %s>" % self.address.url()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Releases every object this client made and has not released, then disconnects."""
        if self._closed:
            return
        self._closed = True
        with self._lock:
            objects = list(self._objects)
        for obj in objects:
            try:
                obj.close()
            except errors.VektaError:
                pass  # the server has gone or refused: its leases end the objects
        if self._keeper is not None:
            self._keeper.stop()
            self._pings.close()
        self._connection.close()

    @property
    def lease_keeper(self):
        return self._keeper

    # The object protocol.

    @property
    def typelib(self):
        """The server's type library (GET /api/v1/typelib), read once."""
        with self._lock:
            if self._typelib is None:
                doc = self._connection.get("/api/v1/typelib").raise_for_error().body
                if not isinstance(doc, dict):
                    raise errors.ProtocolError(errors.E_UNEXPECTED, "the type library is not JSON")
                self._typelib = doc
            return self._typelib

    def object_class(self, class_name):
        """The Python class of the server's class "Orbis" or "VektaManager"."""
        doc = self.typelib
        with self._lock:
            made = self._classes.get(class_name)
            if made is None:
                entry = next((c for c in doc.get("classes", []) if c.get("name") == class_name),
                             None)
                interface = next((i for i in doc.get("interfaces", [])
                                  if entry and i.get("name") == entry.get("interface")), None)
                if interface is None:
                    raise errors.ProtocolError(errors.REGDB_E_CLASSNOTREG,
                                               "no class %s in the type library" % class_name)
                made = self._classes[class_name] = make_class(class_name, interface)
            return made

    def create(self, name="Orbis", lease_ms=None):
        """A new object: a class name ("Orbis", "VektaManager") or a ProgID
        ("VektaManager.Orbis", "VektaManager.Orbis.1", "VektaManager.Application").
        `lease_ms` (up to 24 h) is how long the server keeps it without a call or a ping."""
        if self._closed:
            raise errors.TransportError(errors.RPC_S_SERVER_UNAVAILABLE, "the client was closed")
        body = {"progid": name} if "." in name else {"class": name}
        if lease_ms is not None:
            body["leaseMs"] = lease_ms
        answer = self._connection.request("POST", "/api/v1/objects", body)
        # No server; or one started on demand that ends with its last object just as this
        # came ("the server is shutting down", or the connection cut). It releases every object
        # as it ends, so that none is left twice: the next one is started once it has gone.
        if not answer.ok and self.start_on_demand and self.address.is_loopback() and (
                answer.unsent or not self._connection.healthy(1.0)):
            why = ensure_server(self.address, self.manifest_dirs)
            if why is not None:
                raise errors.TransportError(errors.RPC_S_SERVER_UNAVAILABLE, why)
            answer = self._connection.request("POST", "/api/v1/objects", body)
        answer.raise_for_error()
        doc = answer.body
        if not isinstance(doc, dict) or not isinstance(doc.get("object"), str):
            raise errors.ProtocolError(errors.E_UNEXPECTED, "no object in %.200r" % doc)
        granted = int(doc.get("leaseMs") or lease_ms or 0)
        obj = self.object_class(doc.get("class", name))(self, doc["object"], doc.get("class", name),
                                                        granted)
        with self._lock:
            self._objects.add(obj)
        if self._keeper is not None and granted > 0:
            ticket = self._keeper.keep(self._pings, obj.object_id, granted)
            # An object dropped without close() is no longer pinged: the server releases it
            # when its lease runs out. (No request from a finalizer: it may run inside one.)
            obj._lease = weakref.finalize(obj, self._keeper.forget, ticket)
        return obj

    def orbis(self, lease_ms=None):
        """A new Orbis object (IOrbis: each call returns its [out] value or raises)."""
        return self.create("Orbis", lease_ms)

    def vekta_manager(self, lease_ms=None):
        """A new VektaManager object (IVektaManager: each call returns its value)."""
        return self.create("VektaManager", lease_ms)

    def attach(self, object_id, class_name="Orbis"):
        """An object made earlier, by this program or another: not pinged by this client and
        not released when it is closed."""
        return self.object_class(class_name)(self, object_id, class_name, 0, owned=False)

    def _forget(self, obj):
        with self._lock:
            self._objects.discard(obj)
        if obj._lease is not None:
            obj._lease()

    # The operator's requests (connections, status, settings, about, ...).

    def request(self, method, path, body=None):
        """The JSON answer of any request to the server; raises for a refusal."""
        return self._connection.request(method, path, body).raise_for_error().body

    def get(self, path):
        return self.request("GET", path)

    def healthy(self, timeout=1.0):
        return self._connection.healthy(timeout)
