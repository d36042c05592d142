"""A fiscal line is printed once however its answer is lost: each call carries an
Idempotency-Key, a lost answer is asked for again under the same key, and the server answers a
repeat from its record."""

import concurrent.futures
import os
import time

import pytest

import vektamanager
from lossy_link import LossyLink


def test_a_key_stands_for_one_call(orbis, daemon):
    orbis.OpenCheck("Бакалея")
    line = ["Молоко", 1, 3000, 0, 1, 0, 301]
    assert orbis.call("FiscalLine", *line, idempotency_key="pos-7-line-1") == 3000
    # the same key again: the stored answer, not a second line
    assert orbis.call("FiscalLine", *line, idempotency_key="pos-7-line-1") == 3000
    assert orbis.last_call.replayed
    assert orbis.GetCheckSum() == 3000
    # the same key for other arguments is refused and runs nothing
    with pytest.raises(vektamanager.ProtocolError) as e:
        orbis.call("FiscalLine", "Молоко", 2, 3000, 0, 1, 0, 301, idempotency_key="pos-7-line-1")
    assert (e.value.status, e.value.hresult) == (422, vektamanager.E_INVALIDARG)
    # without a key of its own every call has a fresh one: the same line twice is two lines
    orbis.FiscalLine(*line)
    first_key = orbis.last_call.key
    orbis.FiscalLine(*line)
    assert orbis.last_call.key != first_key and not orbis.last_call.replayed
    assert orbis.GetCheckSum() == 3 * 3000
    # a key a header cannot carry is refused before anything goes out; the object goes on
    for key in ("чек-1042", "a\r\nX-Other: 1"):
        with pytest.raises(vektamanager.ProtocolError) as e:
            orbis.call("FiscalLine", *line, idempotency_key=key)
        assert e.value.hresult == vektamanager.E_INVALIDARG
    assert orbis.GetCheckSum() == 3 * 3000
    assert orbis.call("GetCheckSum", idempotency_key=1042) == 3 * 3000  # a receipt number
    orbis.CloseCheckEx(10000, 0, 0, 0)
    assert daemon.tape(1).count("Молоко") == 3


@pytest.mark.parametrize("loss", ["reset", "hold"])
def test_a_lost_answer_is_asked_for_again_and_the_line_printed_once(daemon, loss):
    # reset: the connection drops before the answer; hold: no answer within the client's wait
    with LossyLink(daemon.port, "/call/FiscalLine", mode=loss, hold=2.0) as link, \
            vektamanager.Client(link.server, timeout=1.0, start_on_demand=False) as client, \
            client.orbis() as orbis:
        orbis.Init(1, "Касир", "7777777777", 0, "pytest")
        orbis.OpenCheck("Бакалея")
        assert orbis.FiscalLine("Сир", 1, 4200, 0, 1, 0, 401) == 4200
        assert link.lost == 1
        assert orbis.last_call.attempts == 2 and orbis.last_call.replayed
        fiscal = [r for r in link.requests if "/call/FiscalLine" in r]
        assert len(fiscal) == 2
        assert orbis.GetCheckSum() == 4200
        orbis.CloseCheckEx(5000, 0, 0, 0)
    assert daemon.tape(1).count("Сир") == 1


def test_a_call_is_asked_for_again_only_once(daemon):
    # the daemon goes away under a call: one more try, then the failure is told
    with vektamanager.Client(daemon.server, timeout=5.0, start_on_demand=False) as client:
        orbis = client.orbis()
        daemon.stop()
        with pytest.raises(vektamanager.TransportError) as e:
            orbis.GetCheckSum()
        assert e.value.hresult == vektamanager.RPC_S_SERVER_UNAVAILABLE
        assert orbis.last_call.attempts == 2


def test_a_lock_wait_longer_than_the_clients_timeout_is_waited_out(orbis, daemon):
    # Asked again and told a time-out, the waiter would hold the lock the server gave it in the
    # end, believing it had none.
    holder = orbis
    with vektamanager.Client(daemon.server, timeout=1.0, start_on_demand=False) as client, \
            client.orbis() as waiter:
        waiter.Init(1, "Касир", "7777777777", 0, "waiter")
        for lock in (lambda: waiter.LockPrinter(3000),
                     lambda: waiter.invoke(4, [-1])):  # -1: no limit on the server
            holder.LockPrinter(0)
            with concurrent.futures.ThreadPoolExecutor(1) as pool:
                waiting = pool.submit(lock)
                time.sleep(2.0)
                holder.UnlockPrinter()
                waiting.result(timeout=30)
            assert waiter.last_call.attempts == 1 and not waiter.last_call.replayed
            with pytest.raises(vektamanager.CallFailed) as e:
                holder.LockPrinter(0)
            assert e.value.hresult == vektamanager.CONTEXT_E_SYNCH_TIMEOUT
            waiter.UnlockPrinter()


def test_a_call_still_waiting_holds_back_no_other_request_of_the_client(orbis, daemon):
    # Queued behind a waiting call on the client's connection, a release or an unlock would wait
    # for the lock it is there to end: the waiter's own, or the lock of the holder the waiter
    # waits for. (Threads left hanging end with the daemon.)
    pool = concurrent.futures.ThreadPoolExecutor(2)
    with vektamanager.Client(daemon.server, start_on_demand=False) as client:
        def attached():
            obj = client.orbis()
            obj.Init(1, "Касир", "7777777777", 0, "released")
            return obj

        waiter = attached()
        orbis.LockPrinter(0)
        try:
            waiting = pool.submit(waiter.invoke, 4, [-1])
            time.sleep(0.5)
            pool.submit(waiter.close).result(timeout=10)
            with pytest.raises(vektamanager.CallFailed):
                waiting.result(timeout=10)
        finally:
            orbis.UnlockPrinter()

        holder, waiter = attached(), attached()
        holder.LockPrinter(0)
        waiting = pool.submit(waiter.invoke, 4, [-1])
        time.sleep(0.5)
        pool.submit(holder.close).result(timeout=10)
        waiting.result(timeout=10)

        holder = attached()
        waiter.UnlockPrinter()
        holder.LockPrinter(0)
        waiting = pool.submit(waiter.LockPrinter, -1)
        time.sleep(0.5)
        assert pool.submit(client.get, "/api/v1/connections").result(timeout=10)["rows"]
        pool.submit(holder.UnlockPrinter).result(timeout=10)
        waiting.result(timeout=10)
        waiter.UnlockPrinter()
    pool.shutdown(wait=False)


def test_a_forked_child_has_keys_of_its_own():
    read, write = os.pipe()
    child = os.fork()
    if child == 0:
        os.write(write, vektamanager.objects.new_idempotency_key().encode())
        os._exit(0)
    os.waitpid(child, 0)
    assert os.read(read, 100).decode() != vektamanager.objects.new_idempotency_key()


def test_a_message_wait_longer_than_the_clients_timeout_is_waited_out(daemon):
    with vektamanager.Client(daemon.server, timeout=1.0, start_on_demand=False) as client, \
            client.orbis() as orbis, client.vekta_manager() as vm:
        orbis.Init(1, "Касир", "7777777777", 0, "messages")
        assert orbis.LowGetNextPendingPrinterMessage(2500) == ""
        assert orbis.last_call.attempts == 1
        assert orbis.call("LowGetNextPendingPrinterMessage", TimeoutMilliseconds=1500) == ""
        assert orbis.last_call.attempts == 1
        assert orbis.LowGetNextPendingPrinterMessage(-1) == ""  # waits nothing
        # VektaManager waits 3 s whatever it is given
        assert vm.Init(1, "Касир", "7777777777", 0, "messages-vm") == 1
        assert vm.LowGetNextPendingPrinterMessage(0) == ""
        assert vm.last_call.attempts == 1
