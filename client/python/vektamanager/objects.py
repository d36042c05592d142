"""Objects of a server: a class per interface, made from the server's type library, whose
methods are the interface's members and whose properties are its properties.

An Orbis method returns its [out] value (None when it has none, a dict by name if a member
ever had several) and raises CallFailed when the member fails; a VektaManager method returns
its value, as that interface does, failures included.
"""

import collections
import datetime
import inspect
import itertools
import keyword
import os
import secrets

from . import errors

CallInfo = collections.namedtuple("CallInfo", "member key attempts replayed")

_KEY_PREFIX = secrets.token_hex(8)
_KEY_COUNTER = itertools.count(1)


def new_idempotency_key():
    # A forked child counts from where its parent stood: its process id keeps its keys its own,
    # or a call of the child's would be answered from the parent's record and never run.
    return "%s-%d-%d" % (_KEY_PREFIX, os.getpid(), next(_KEY_COUNTER))


# Members that wait on the server for up to their first argument, in ms, and answer only then.
_WAITING_MEMBERS = ("LockPrinter", "LowGetNextPendingPrinterMessage")
# The server takes LockPrinter's time-out as unsigned: -1 waits without end, other negatives
# up to 2**32 ms.
_LONGEST_LOCK_WAIT = 2 ** 32 / 1000.0
# VektaManager reads pending messages with a wait of its own, whatever it is given.
_VEKTA_MANAGER_MESSAGE_WAIT = 3.0


def _argument(value):
    # DATE goes as "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS"; an OLE date number as it is
    if isinstance(value, datetime.datetime):
        return value.strftime("%Y-%m-%dT%H:%M:%S")
    if isinstance(value, datetime.date):
        return value.strftime("%Y-%m-%d")
    return value


class RemoteObject:
    """An object on the server. close() (or the end of a with block) is its final release."""

    _interface = None  # the interface's typelib entry, set in each made class

    def __init__(self, client, object_id, class_name, lease_ms=0, owned=True):
        self.client = client
        self.object_id = object_id
        self.class_name = class_name
        self.lease_ms = lease_ms
        self.last_call = None  # CallInfo of the last call
        self._owned = owned
        self._lease = None  # stops the pings of this object
        self._closed = False

    def __repr__(self):
        return "<%s %s%s>" % (self.class_name, self.object_id, " released" if self._closed else "")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def closed(self):
        return self._closed

    def close(self):
        """The final release: the server detaches the object from its port. An object attached
        with Client.attach() is left on the server."""
        if self._closed:
            return
        self._closed = True
        self.client._forget(self)
        if self._owned:
            answer = self.client._connection.request("DELETE", "/api/v1/objects/" + self.object_id)
            # an object whose lease already ran out is released all the same
            if not answer.lost and answer.status != 404:
                answer.raise_for_error()

    release = close

    def ping(self):
        """Renews the lease by hand (the client's lease keeper does it by itself)."""
        self.client._connection.request(
            "POST", "/api/v1/objects/%s/ping" % self.object_id).raise_for_error()

    def call(self, member, *args, idempotency_key=None, **kwargs):
        """Calls a member by name with the arguments as given: positional ones go as a JSON
        array, keywords as an object by parameter name. A property is read without arguments
        and set with one.

        `idempotency_key` replaces the fresh key of every call: a program that kept the key
        of a call whose outcome it never learnt (it was stopped, say) sends the same call
        with it again and gets the stored answer instead of a second run. A key stands for
        one call: with another member or other arguments it is refused (ProtocolError)."""
        if args and kwargs:
            raise TypeError("call() takes positional or keyword arguments, not both")
        body = {k: _argument(v) for k, v in kwargs.items()} if kwargs else [
            _argument(v) for v in args]
        return self._send(member, "call/" + member, body, idempotency_key)

    def invoke(self, dispid, args=(), kind="method"):
        """Calls a member by dispid, as a late-binding client does (kind: method, propget,
        propput)."""
        member = self._member_by_dispid(dispid)
        name = member["name"] if member else "dispid %d" % dispid
        return self._send(name, "invoke", {"dispid": dispid, "args": [_argument(a) for a in args],
                                           "kind": kind})

    def _member_by_dispid(self, dispid):
        for member in (self._interface or {}).get("members", []):
            if member.get("dispid") == dispid:
                return member
        return None

    def _server_wait(self, member, route, body):
        """Seconds the call may wait on the server by its arguments before it answers."""
        if member not in _WAITING_MEMBERS:
            return 0.0
        if route == "invoke":
            body = body.get("args")
        ms = None
        if isinstance(body, list) and body:
            ms = body[0]
        elif isinstance(body, dict):
            info = next((m for m in (self._interface or {}).get("members", [])
                         if m.get("name") == member), {})
            first = next((p["name"] for p in info.get("params", []) if p.get("dir") == "in"), None)
            ms = body.get(first)
        # the server takes a bool as 0 or 1 ms and refuses anything else but a whole number
        if not isinstance(ms, int) or isinstance(ms, bool):
            return 0.0
        if ms >= 0:
            return ms / 1000.0
        return _LONGEST_LOCK_WAIT if member == "LockPrinter" else 0.0

    def _send(self, member, route, body, key=None):
        if self._closed:
            raise errors.ProtocolError(errors.RPC_E_DISCONNECTED, "the object was released")
        connection = self.client._connection
        path = "/api/v1/objects/%s/%s" % (self.object_id, route)
        key = key or new_idempotency_key()
        headers = {"Idempotency-Key": key}
        # the server is silent while the member waits: its answer is due only after the wait
        wait = self._server_wait(member, route, body)
        timeout = connection.timeout + wait if wait > 0 else None
        answer = connection.request("POST", path, body, headers, timeout)
        attempts = 1
        if answer.lost:
            # The answer was lost on the way: ask again under the same key, so that a call
            # that did run is answered from the server's record and not run twice.
            answer = connection.request("POST", path, body, headers, timeout)
            attempts = 2
        self.last_call = CallInfo(member, key, attempts,
                                  answer.headers.get("idempotent-replay") == "true")
        answer.raise_for_error()
        return self._result(member, answer.body)

    def _result(self, member, body):
        raise NotImplementedError


class OrbisObject(RemoteObject):
    def _result(self, member, body):
        if not isinstance(body, dict) or not isinstance(body.get("hresult"), str):
            raise errors.ProtocolError(errors.E_UNEXPECTED, "not an Orbis answer: %.200r" % body)
        out = body.get("out") if isinstance(body.get("out"), dict) else {}
        hr = errors.parse_hresult(body["hresult"], errors.E_UNEXPECTED)
        if errors.failed(hr):
            raise errors.CallFailed(member, hr, out, name=body.get("hresultName") or None)
        if len(out) > 1:
            return dict(out)
        return next(iter(out.values()), None)


class VektaManagerObject(RemoteObject):
    def _server_wait(self, member, route, body):
        if member == "LowGetNextPendingPrinterMessage":
            return _VEKTA_MANAGER_MESSAGE_WAIT
        return super()._server_wait(member, route, body)

    def _result(self, member, body):
        if not isinstance(body, dict) or "value" not in body:
            raise errors.ProtocolError(errors.E_UNEXPECTED, "not a VektaManager answer: %.200r"
                                       % body)
        return body["value"]


def _parameter_name(name, index):
    if name.isidentifier() and not keyword.iskeyword(name) and name != "self":
        return name
    return "arg%d" % index


def _method(member):
    name = member["name"]
    ins = [p for p in member.get("params", []) if p.get("dir") == "in"]
    outs = [p for p in member.get("params", []) if p.get("dir") != "in"]
    params = [inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)]
    params += [inspect.Parameter(_parameter_name(p["name"], i),
                                 inspect.Parameter.POSITIONAL_OR_KEYWORD)
               for i, p in enumerate(ins)]
    signature = inspect.Signature(params)
    names = [p.name for p in params[1:]]

    def method(self, *args, **kwargs):
        bound = signature.bind(self, *args, **kwargs)
        return self._send(name, "call/" + name,
                          [_argument(bound.arguments[n]) for n in names])

    method.__name__ = method.__qualname__ = name
    method.__signature__ = signature
    lines = [member.get("help", "")]
    lines += ["  %s %s" % (p["type"], p["name"]) for p in ins]
    if outs:
        lines.append("Returns %s." % ", ".join("%s %s" % (p["type"], p["name"]) for p in outs))
    elif member.get("type") not in (None, "void"):
        lines.append("Returns %s." % member["type"])
    method.__doc__ = "\n".join(lines)
    return method


def _property(member):
    name = member["name"]

    def get(self):
        return self._send(name, "call/" + name, None)

    def put(self, value):
        self._send(name, "call/" + name, [_argument(value)])

    return property(get, put, doc="%s (%s)" % (member.get("help", ""), member.get("type")))


def make_class(class_name, interface):
    """A class for the objects of `class_name` with the members of its typelib `interface`."""
    base = OrbisObject if interface.get("name") == "IOrbis" else VektaManagerObject
    namespace = {"_interface": interface, "__doc__": interface.get("help", "")}
    for member in interface.get("members", []):
        name = member.get("name", "")
        # a member may not hide what every object has (call, close, ...)
        if not name.isidentifier() or keyword.iskeyword(name) or hasattr(base, name):
            continue
        namespace[name] = _property(member) if member.get("kind") == "property" else _method(
            member)
    return type(class_name, (base,), namespace)
