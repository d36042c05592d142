"""The tests run the client against the real daemon: `$VEKTA_BUILD_DIR/app/vektamanager
--simulate 1` on a free loopback port, in a folder of its own for each test."""

import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

import vektamanager  # noqa: E402
from vektamanager.testing import LocalDaemon  # noqa: E402

BUILD = os.environ.setdefault(
    "VEKTA_BUILD_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../build"))
# the tests must never find and start a server registered on this machine
os.environ.pop("VEKTA_SERVER", None)
os.environ.pop("VEKTA_TOKEN", None)

CASHIER = ("Касир", "7777777777")


@pytest.fixture
def daemon():
    with LocalDaemon(simulate=[1]) as d:
        yield d


@pytest.fixture
def client(daemon):
    with vektamanager.Client(daemon.server, start_on_demand=False) as c:
        yield c


@pytest.fixture
def orbis(client):
    """An Orbis object logged in to the simulated printer on COM1."""
    with client.orbis() as o:
        o.Init(1, CASHIER[0], CASHIER[1], 0, "pytest")
        yield o
