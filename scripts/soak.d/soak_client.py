"""One point-of-sale client of the soak, as a process of its own so that it can be killed for
real. It reads receipts from standard input (JSON lines), prints them through the server, and
reports every step and every outcome it was told on standard output (JSON lines). A receipt
whose plan names a fault asks the orchestrator for it at the planned step and waits for "go".

Usage: soak_client.py HOST:PORT COMPORT CLIENTNAME LEASEMS LOCK(0|1)"""

import json
import sys
import time

sys.path.insert(0, __import__("os").path.dirname(__file__))
from soaklib import (CASHIER, IN_DOUBT_MARK, PASSWORD, ObjectGone, Server,  # noqa: E402
                     TransportError)

CLOSE_RETRIES = 8          # a close in doubt is asked again this many times...
CLOSE_RETRY_PAUSE = 0.7    # ...this far apart
RECONNECT_SECONDS = 90     # how long a client waits for a server that went away
FAILURE_PAUSE = 1.0        # a cashier looks at a failed receipt before ringing up the next


def emit(**event):
    sys.stdout.write(json.dumps(event, ensure_ascii=False) + "\n")
    sys.stdout.flush()


def read_command():
    line = sys.stdin.readline()
    if not line:
        sys.exit(0)  # the orchestrator is gone
    return json.loads(line)


class Interrupted(Exception):
    pass


class Client:
    def __init__(self, address, comport, name, lease_ms, lock):
        host, _, port = address.rpartition(":")
        self.server = Server(host, int(port), timeout=60.0)
        self.comport, self.name, self.lease_ms, self.lock = comport, name, lease_ms, lock
        self.obj = None

    def connect(self):
        """An object attached to the port; waits (bounded) for a server that is restarting."""
        deadline = time.monotonic() + RECONNECT_SECONDS
        last = ""
        while time.monotonic() < deadline:
            try:
                self.obj = self.server.create(self.lease_ms)
                ok, _ = self.server.call(self.obj, "Init",
                                         [self.comport, CASHIER, PASSWORD, 0, self.name])
                if ok:
                    return
                last = "Init failed: " + self.last_error()
                self.server.release(self.obj)
            except (TransportError, ObjectGone) as e:
                last = str(e)
            self.obj = None
            time.sleep(0.3)
        emit(ev="fatal", why=f"no server or printer for {RECONNECT_SECONDS} s: {last}")
        sys.exit(3)

    def call(self, member, args, keyed=False):
        try:
            return self.server.call(self.obj, member, args, keyed)
        except (TransportError, ObjectGone) as e:
            raise Interrupted(str(e)) from None

    def last_error(self):
        try:
            ok, out = self.server.call(self.obj, "GetLastErrorMessage", [])
            return out.get("ErrorMessage", "") if ok else ""
        except (TransportError, ObjectGone):
            return ""

    def fault(self, plan, where):
        f = plan.get("fault")
        if f and f.get("at") == where:
            emit(ev="fault", id=plan["id"], kind=f["kind"], at=where)
            while read_command().get("cmd") != "go":
                pass

    def result_figures(self):
        ok, out = self.call("GetCheckResult", [])
        text = out.get("CheckResult", "") if ok else ""
        parts = text.split(";")
        if len(parts) != 9:
            return {"text": text}
        n = [int(p) for p in parts]
        return {"text": text, "check": n[0], "sales": n[1], "returns": n[5]}

    def receipt(self, plan):
        rid = plan["id"]
        step = "lock"
        locked = False
        try:
            self.fault(plan, "lock")
            if self.lock:
                ok, _ = self.call("LockPrinter", [45000])
                if not ok:
                    return emit(ev="done", id=rid, outcome="failed", why="LockPrinter failed")
                locked = True
            step = "open"
            self.fault(plan, "open")
            ok, _ = self.call("OpenReturnCheck" if plan["return"] else "OpenCheck", [plan["dept"]],
                              keyed=True)
            if not ok:
                # as a cashier would: cancel whatever the printer may hold open, then go on
                return self.abort(rid, "OpenCheck: " + self.last_error())
            emit(ev="opened", id=rid)
            step = "lines"
            for i, line in enumerate(plan["lines"]):
                self.fault(plan, f"line{i}")
                if line.get("switch"):
                    ok, _ = self.call("SetCurrentCheckDirection", [1], keyed=True)
                    if not ok:
                        return self.abort(rid, "SetCurrentCheckDirection failed")
                if line["dir"] < 0 and i % 2 == 0:
                    ok, out = self.call("FiscalLine", [line["name"], line["qty"], line["price"],
                                                       line["div"], line["t1"], line["t2"],
                                                       line["article"]], keyed=True)
                else:
                    ok, out = self.call("FiscalLineEx", [line["name"], line["qty"], line["price"],
                                                         line["div"], line["t1"], line["t2"],
                                                         line["article"], line["dir"],
                                                         line["disc_name"], line["disc"]],
                                        keyed=True)
                if not ok:
                    return self.abort(rid, f"line {i}: " + self.last_error())
            for text in plan["text"]:
                ok, _ = self.call("FreeTextLine", [0, 0, 0, text], keyed=True)
                if not ok:
                    return self.abort(rid, "FreeTextLine: " + self.last_error())
            step = "close"
            self.fault(plan, "close")
            emit(ev="closing", id=rid)
            ok, out = self.call("CloseCheckEx", plan["pay"], keyed=True)
            told = out.get("CheckSum")
            if told not in (0, -1, None):
                return emit(ev="done", id=rid, outcome="confirmed", told=told,
                            figures=self.result_figures())
            why = self.last_error()
            if told == 0 or IN_DOUBT_MARK not in why:
                return self.abort(rid, f"close answered {told}: {why}")
            return self.settle_doubt(plan, why)
        except Interrupted as e:
            emit(ev="done", id=rid, outcome="interrupted", step=step, why=str(e))
            self.server.close()
            self.connect()
        finally:
            if locked and self.obj is not None:
                try:
                    self.server.call(self.obj, "UnlockPrinter", [])
                except (TransportError, ObjectGone):
                    pass

    def abort(self, rid, why):
        ok, _ = self.call("AbortCheck", [], keyed=True)
        emit(ev="done", id=rid, outcome="failed", why=why, aborted=ok)
        time.sleep(FAILURE_PAUSE)

    def settle_doubt(self, plan, why):
        """The close is in doubt: ask again, as the error text tells a cashier to. The retry
        gives the printed receipt's total, or closes the receipt that was not printed."""
        rid = plan["id"]
        emit(ev="doubt", id=rid, why=why)
        for attempt in range(CLOSE_RETRIES):
            time.sleep(CLOSE_RETRY_PAUSE)
            ok, out = self.call("CloseCheckEx", plan["pay"], keyed=True)
            told = out.get("CheckSum")
            if told not in (0, -1, None):
                return emit(ev="done", id=rid, outcome="doubt-closed", told=told,
                            attempts=attempt + 1, figures=self.result_figures())
            why = self.last_error()
            if told == 0 or IN_DOUBT_MARK not in why:
                # settled as not printed, and the printer has no such receipt open any more
                ok, _ = self.call("AbortCheck", [], keyed=True)
                return emit(ev="done", id=rid, outcome="doubt-failed", told=told, why=why,
                            attempts=attempt + 1)
        emit(ev="done", id=rid, outcome="doubt-unsettled", why=why)


def main():
    address, comport, name, lease_ms, lock = sys.argv[1:6]
    client = Client(address, int(comport), name, int(lease_ms), lock == "1")
    client.connect()
    emit(ev="ready")
    while True:
        cmd = read_command()
        if cmd.get("cmd") == "quit":
            break
        if cmd.get("cmd") == "receipt":
            client.receipt(cmd["plan"])
            emit(ev="next")
    if client.obj is not None:
        client.server.release(client.obj)


if __name__ == "__main__":
    main()
