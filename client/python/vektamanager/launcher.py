"""Starts a registered server on demand: when nothing answers at a loopback address and the
registration manifest exists, its LocalServer32 is started with /Embedding, detached, and given
up to 10 s to answer /healthz. That process ends by itself with its last object."""

import json
import os
import socket
import subprocess
import time

from .connection import Connection

START_WAIT = 10.0


def manifest_directories():
    """Where registration puts the manifest, in the order they are looked at:
    $VEKTA_REGISTRATION_DIR, $XDG_CONFIG_HOME/vektamanager (~/.config/vektamanager),
    /etc/vektamanager."""
    dirs = []
    if os.environ.get("VEKTA_REGISTRATION_DIR"):
        dirs.append(os.environ["VEKTA_REGISTRATION_DIR"])
    if os.environ.get("XDG_CONFIG_HOME"):
        dirs.append(os.path.join(os.environ["XDG_CONFIG_HOME"], "vektamanager"))
    elif os.environ.get("HOME"):
        dirs.append(os.path.join(os.environ["HOME"], ".config", "vektamanager"))
    dirs.append("/etc/vektamanager")
    return dirs


def read_server_manifest(directory):
    """(executable, arguments) from the directory's registration.json, or None."""
    try:
        with open(os.path.join(directory, "registration.json"), encoding="utf-8") as f:
            doc = json.load(f)
    except (OSError, ValueError):
        return None
    if not isinstance(doc, dict) or not isinstance(doc.get("LocalServer32"), str):
        return None
    exe = doc["LocalServer32"]
    if len(exe) >= 2 and exe[0] == '"' and exe[-1] == '"':
        exe = exe[1:-1]
    if not exe.startswith("/"):
        return None
    arguments = doc.get("serverArguments")
    arguments = [a for a in arguments if isinstance(a, str)] if isinstance(arguments, list) else []
    return exe, arguments


def _nothing_listens(address):
    """Whether every address of the host refuses a connection or cannot be reached at all (::1
    where IPv6 is off); one that takes it, or does not answer in time, may be a server."""
    try:
        found = socket.getaddrinfo(address.host, address.port, type=socket.SOCK_STREAM)
    except OSError:
        return False
    tried = False
    for family, kind, proto, _, where in found:
        try:
            sock = socket.socket(family, kind, proto)
        except OSError:
            continue
        tried = True
        sock.settimeout(0.5)
        try:
            sock.connect(where)
            return False
        except TimeoutError:
            return False
        except OSError:
            pass
        finally:
            sock.close()
    return tried


def wait_for_listener(address, probe, wait=START_WAIT):
    """Up to `wait` seconds: "none" when nothing listens at `address`, "answers" when a server
    answers there (slow the first time, or started meanwhile), "went away" when the one that
    listened has gone, "stays" when it neither answers nor goes."""
    seen = False
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        if _nothing_listens(address):
            return "went away" if seen else "none"
        seen = True
        if probe.healthy(0.5):
            return "answers"
        time.sleep(0.05)
    return "stays"


def ensure_server(address, directories=None, wait=START_WAIT):
    """None when a server answers at `address`, started here if need be; else why not."""
    probe = Connection(address)
    if probe.healthy(1.0):
        return None
    if not address.is_loopback():
        return "no server at " + address.url()
    manifest = None
    for directory in directories if directories is not None else manifest_directories():
        manifest = read_server_manifest(directory)
        if manifest:
            break
    if manifest is None:
        return "no server at %s and none registered" % address.url()
    exe, arguments = manifest
    # One that does not answer but still listens is ending (started on demand, its last object
    # gone; a service that restarts): it frees its port only after it has closed its printers'
    # ports, and one started before would not bind. A service that restarts binds again within
    # moments, and one started here would take its place: it is given a second to.
    listener = wait_for_listener(address, probe, wait)
    if listener == "answers":
        return None
    if listener == "stays":
        return "the server at %s neither answers nor ends" % address.url()
    if listener == "went away":
        for _ in range(20):
            if probe.healthy(0.2):
                return None
            time.sleep(0.05)
    try:
        # Detached: the shell starts the server in a session of its own and ends at once, so
        # the server outlives this program and is nobody's zombie.
        subprocess.run(["/bin/sh", "-c", '"$@" </dev/null >/dev/null 2>&1 &', "sh", exe,
                        "/Embedding", *arguments], start_new_session=True, check=True,
                       timeout=5)
    except (OSError, subprocess.SubprocessError) as e:
        return "cannot start %s: %s" % (exe, e)
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        if probe.healthy(0.5):
            return None
        time.sleep(0.05)
    return "the server started on demand did not answer within %g s" % wait
