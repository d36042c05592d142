"""Leases: a client's objects live while it pings them and end with their lease when it stops."""

import time

import pytest

import vektamanager
from lossy_link import LossyLink

LEASE_MS = 600


def test_pings_keep_an_object_alive_past_its_lease(daemon):
    with vektamanager.Client(daemon.server, start_on_demand=False) as client:
        orbis = client.orbis(lease_ms=LEASE_MS)
        orbis.Init(1, "Касир", "7777777777", 0, "kept")
        assert orbis.lease_ms == LEASE_MS and client.lease_keeper.count() == 1
        time.sleep(4 * LEASE_MS / 1000)  # no call for four leases: only the pings renew it
        assert orbis.GetPortNumber() == 1
        assert client.lease_keeper.pings_sent >= 4
        orbis.close()
        assert client.lease_keeper.count() == 0


def test_without_pings_the_lease_ends_and_detaches_the_object(daemon):
    with vektamanager.Client(daemon.server, start_on_demand=False, keep_leases=False) as client:
        # long enough for the Init to come in time on a busy machine, short for the wait below
        orbis = client.orbis(lease_ms=2000)
        orbis.Init(1, "Касир", "7777777777", 0, "forgotten")
        assert client.get("/api/v1/connections")["connections"][0]["clients"] == ["forgotten"]
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and client.get("/api/v1/connections")["connections"]:
            time.sleep(0.1)
        assert client.get("/api/v1/connections")["connections"] == []
        with pytest.raises(vektamanager.ProtocolError) as e:
            orbis.GetPortNumber()
        assert e.value.hresult == vektamanager.RPC_E_DISCONNECTED
        orbis.close()  # the server has let it go already: nothing to raise


def test_an_object_dropped_without_close_is_no_longer_pinged(daemon):
    with vektamanager.Client(daemon.server, start_on_demand=False) as client:
        client.orbis(lease_ms=LEASE_MS)  # not kept by the program
        assert client.lease_keeper.count() == 0


def test_a_long_call_does_not_hold_back_the_pings_of_the_other_objects(daemon):
    # the pings go on a connection of their own: behind the wait they would come too late
    with vektamanager.Client(daemon.server, timeout=30.0, start_on_demand=False) as client, \
            client.orbis() as waiting, client.orbis(lease_ms=1500) as short:
        waiting.Init(1, "Касир", "7777777777", 0, "waiting")
        short.Init(1, "Касир", "7777777777", 0, "short")
        assert waiting.LowGetNextPendingPrinterMessage(3500) == ""
        assert short.GetPortNumber() == 1


def test_a_connection_the_server_closed_while_idle_is_opened_again(daemon):
    # the link closes a keep-alive connection idle for 0.5 s, long before the client stops
    # reusing it; the next request, a create that is never sent twice, must go out on a new one
    with LossyLink(daemon.port, idle=0.5) as link, \
            vektamanager.Client(link.server, start_on_demand=False, keep_leases=False) as client:
        client.orbis().close()
        time.sleep(1.5)
        with client.orbis() as obj:
            assert len(obj.object_id) == 32
        assert link.connections == 2
        assert sum(r.startswith("POST /api/v1/objects ") for r in link.requests) == 2
