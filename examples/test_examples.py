"""Each example prints its receipt on the real daemon with a simulated printer.

The C++ example runs when it is built: $VEKTA_RECEIPT_CPP, else $VEKTA_BUILD_DIR/examples/receipt."""

import http.client
import os
import shutil
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "client", "python"))
os.environ.setdefault("VEKTA_BUILD_DIR", os.path.join(HERE, "..", "build"))
os.environ.pop("VEKTA_TOKEN", None)

from vektamanager.testing import LocalDaemon  # noqa: E402

BUILD = os.environ["VEKTA_BUILD_DIR"]
RECEIPT = ["Хліб житній 3700", "Молоко 3250", "СУМА 6950"]


def cpp_example():
    path = os.environ.get("VEKTA_RECEIPT_CPP") or os.path.join(BUILD, "examples", "receipt")
    return path if os.access(path, os.X_OK) else None


EXAMPLES = {
    "curl": lambda server, com: ["bash", os.path.join(HERE, "receipt.sh"), str(com)],
    "python": lambda server, com: [sys.executable, os.path.join(HERE, "receipt.py"),
                                   "--port", str(com)],
    "cpp": lambda server, com: [cpp_example(), server, str(com)],
}


def objects_left(daemon):
    conn = http.client.HTTPConnection("127.0.0.1", daemon.port, timeout=10)
    conn.request("GET", "/metrics")
    metrics = conn.getresponse().read().decode()
    conn.close()
    return next(int(line.split()[1]) for line in metrics.splitlines()
                if line.startswith("vekta_objects "))


@pytest.mark.parametrize("example", sorted(EXAMPLES))
def test_each_example_prints_a_receipt_and_releases_its_object(example):
    if example == "curl" and not shutil.which("curl"):
        pytest.skip("no curl")
    if example == "cpp" and cpp_example() is None:
        pytest.skip("the C++ example is not built")
    with LocalDaemon(simulate=[1]) as daemon:
        env = dict(os.environ, VEKTA_SERVER=daemon.server)
        run = subprocess.run(EXAMPLES[example](daemon.server, 1), env=env, capture_output=True,
                             text=True, timeout=120)
        assert run.returncode == 0, run.stderr
        lines = run.stdout.splitlines()
        assert lines[:3] == RECEIPT
        number, total = lines[3].split()[1].split(";")[:2]
        assert lines[3].startswith("чек ") and (number, total) == ("1", "6950")
        tape = daemon.tape(1)
        assert tape.count("ФІСКАЛЬНИЙ ЧЕК") == 1 and tape.count("Молоко") == 1
        assert objects_left(daemon) == 0

        # no printer on COM5: the failure is told, nothing printed, nothing left behind
        run = subprocess.run(EXAMPLES[example](daemon.server, 5), env=env, capture_output=True,
                             text=True, timeout=120)
        assert run.returncode == 1 and "Init" in run.stderr
        assert daemon.tape(1) == tape and objects_left(daemon) == 0
