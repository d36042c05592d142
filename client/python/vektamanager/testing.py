"""The real daemon with simulated printers, for the tests of a point-of-sale program (and of
this client): `vektamanager --simulate N` on a free loopback port, with its settings,
registration, logs and control tapes in a folder of its own.

    with LocalDaemon(simulate=[1]) as daemon, Client(daemon.server) as client:
        ...
        assert "Хлiб" in daemon.tape(1)
"""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

from .address import parse_server_name
from .connection import Connection


def free_port():
    """A loopback port that was free a moment ago."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def daemon_executable():
    """$VEKTA_BUILD_DIR/app/vektamanager, else vektamanager on the PATH."""
    build = os.environ.get("VEKTA_BUILD_DIR")
    if build:
        return os.path.join(build, "app", "vektamanager")
    return shutil.which("vektamanager") or "vektamanager"


class LocalDaemon:
    """`settings` adds sections to the settings file: {"Server": {"Token": "..."}}."""

    def __init__(self, simulate=(1,), settings=None, executable=None, arguments=(),
                 directory=None):
        self.simulate = list(simulate)
        self.settings = {"CurrentConfig": {"SaveToLog": "0", "KeepLogFiles": "3"}}
        for section, values in (settings or {}).items():
            self.settings.setdefault(section, {}).update(values)
        self.executable = executable or daemon_executable()
        self.arguments = list(arguments)
        self._own_directory = directory is None
        # absolute: the daemon refuses a relative LogDir
        self.directory = os.path.abspath(directory or tempfile.mkdtemp(prefix="vekta-daemon-"))
        self.settings.setdefault("Server", {}).setdefault("LogDir",
                                                          os.path.join(self.directory, "log"))
        self.tls = bool(self.settings["Server"].get("CertFile"))
        self.config = os.path.join(self.directory, "vektamanager.ini")
        self.process = None
        self.port = 0

    @property
    def server(self):
        """The server name for Client() ("127.0.0.1:PORT")."""
        return "127.0.0.1:%d" % self.port

    @property
    def url(self):
        return ("https://" if self.tls else "http://") + self.server

    def command(self, *switches):
        """The daemon's command line with this folder's settings, registration and tapes."""
        args = [self.executable, *switches, "--config", self.config,
                "--listen", self.server,
                "--registration-dir", os.path.join(self.directory, "reg"),
                "--systemd-dir", os.path.join(self.directory, "systemd"),
                "--sim-tape-dir", os.path.join(self.directory, "tape")]
        for n in self.simulate:
            args += ["--simulate", str(n)]
        return args + self.arguments

    def write_settings(self):
        os.makedirs(self.directory, exist_ok=True)
        with open(self.config, "w", encoding="utf-8") as f:
            for section, values in self.settings.items():
                f.write("[%s]\n" % section)
                for name, value in values.items():
                    f.write("%s=%s\n" % (name, value))

    def start(self, timeout=30.0):
        self.write_settings()
        # a port taken between the look and the bind: the daemon ends at once, try another
        for _ in range(3):
            self.port = free_port()
            with open(self.stderr_path, "wb") as err:
                self.process = subprocess.Popen(self.command(), stdin=subprocess.DEVNULL,
                                                stdout=subprocess.DEVNULL, stderr=err)
            if self._wait_healthy(timeout):
                return self
            if self.process.poll() is None:
                break
        self.stop()
        raise RuntimeError("vektamanager did not start: " + self.stderr())

    def _wait_healthy(self, timeout):
        address = parse_server_name(self.url)
        address.insecure = True  # only whether it answers: the test checks the certificate
        probe = Connection(address, timeout=0.5)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.process.poll() is None:
            if probe.healthy(0.5):
                return True
            time.sleep(0.05)
        return False

    def stop(self, timeout=10.0):
        """SIGTERM (every object released, every port closed), SIGKILL after `timeout`."""
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode if self.process is not None else None

    def remove(self):
        if self._own_directory:
            shutil.rmtree(self.directory, ignore_errors=True)

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.remove()
            raise

    def __exit__(self, *exc):
        self.stop()
        self.remove()

    @property
    def stderr_path(self):
        return os.path.join(self.directory, "stderr")

    def stderr(self):
        try:
            with open(self.stderr_path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def tape(self, port=1):
        """What the simulated printer on COM `port` has printed, as a person reads it."""
        try:
            with open(os.path.join(self.directory, "tape", "COM%d.tape" % port),
                      encoding="utf-8") as f:
                return f.read()
        except OSError:
            return ""
