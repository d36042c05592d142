"""What the soak's orchestrator and its clients share: the HTTP calls, the receipts, the
printer's own arithmetic (to know a receipt's total without asking the server) and the
reading of a simulator's control tape."""

import http.client
import json
import random
import re

PASSWORD = "7777777777"
CASHIER = "Касир"

# The simulator's tax table (group: type, raw rate): 0 included, 1 on-sale, 2 sale-included.
TAXES = {1: ("0", 2000), 2: ("1", 2000), 3: ("0", 700), 4: ("2", 500), 5: ("1", 1000)}
UNPROGRAMMED_GROUP = 7  # the printer refuses a line that names it

# Goods with a fixed article: the printer ties an article to its name, taxes and divisibility.
CATALOG = [
    ("Хліб житній", 0, 1, 0), ("Молоко 2,5%", 0, 1, 3), ("Сир твердий, кг", 1, 1, 0),
    ("Кава мелена", 0, 2, 0), ("Цукор, кг", 1, 3, 0), ("Вода мінеральна", 0, 5, 0),
    ("Олія соняшникова", 0, 2, 4), ("Яблука, кг", 1, 3, 0), ("Сірники", 0, 0, 0),
    ("Пакет", 0, 4, 0), ("Чай чорний", 0, 1, 2), ("Ковбаса варена, кг", 1, 2, 5),
    ("Батон", 0, 3, 0), ("Кефір", 0, 1, 0), ("Шоколад", 0, 5, 1), ("Масло вершкове", 0, 4, 2),
    ("Рис, кг", 1, 1, 0), ("Сіль", 0, 0, 0), ("Печиво вівсяне", 0, 2, 0), ("Сік яблучний", 0, 5, 4),
]

IN_DOUBT_MARK = "можливо, надруковано"


class TransportError(Exception):
    """The server could not be reached or the connection broke: the call's outcome is unknown."""


class ObjectGone(Exception):
    """The object is unknown to the server (released, its lease ran out, or a restart)."""


class Server:
    """One keep-alive HTTP connection to the object protocol."""

    def __init__(self, host, port, timeout=40.0):
        self.host, self.port, self.timeout = host, port, timeout
        self.conn = None
        self.key_serial = 0

    def close(self):
        if self.conn is not None:
            self.conn.close()
            self.conn = None

    def request(self, method, path, body=None, headers=None, timeout=None):
        data = None if body is None else json.dumps(body, ensure_ascii=False).encode()
        hdrs = {"Content-Type": "application/json"}
        hdrs.update(headers or {})
        try:
            if self.conn is None or timeout is not None:
                self.close()
                self.conn = http.client.HTTPConnection(self.host, self.port,
                                                       timeout=timeout or self.timeout)
            self.conn.request(method, path, body=data, headers=hdrs)
            resp = self.conn.getresponse()
            raw = resp.read()
        except (OSError, http.client.HTTPException) as e:
            self.close()
            raise TransportError(f"{method} {path}: {type(e).__name__}: {e}") from None
        try:
            doc = json.loads(raw.decode()) if raw else {}
        except ValueError:
            doc = {"raw": raw.decode(errors="replace")}
        return resp.status, doc

    def healthy(self):
        try:
            status, _ = self.request("GET", "/healthz", timeout=2.0)
            return status == 200
        except TransportError:
            return False
        finally:
            self.close()

    def create(self, lease_ms):
        status, doc = self.request("POST", "/api/v1/objects",
                                   {"progid": "VektaManager.Orbis", "leaseMs": lease_ms})
        if status != 201:
            raise TransportError(f"create: {status} {doc}")
        return doc["object"]

    def release(self, obj):
        try:
            self.request("DELETE", f"/api/v1/objects/{obj}")
        except TransportError:
            pass

    def call(self, obj, member, args, keyed=False):
        """An Orbis call: (ok, out). A key makes a repeat after a broken connection safe."""
        headers = {}
        if keyed:
            self.key_serial += 1
            headers["Idempotency-Key"] = f"{obj}-{self.key_serial}"
        status, doc = self.request("POST", f"/api/v1/objects/{obj}/call/{member}", args, headers)
        if status == 404:
            raise ObjectGone(f"{member}: {doc}")
        if status != 200:
            raise TransportError(f"{member}: HTTP {status} {doc}")
        return bool(doc.get("ok")), doc.get("out", {})


def line_sum(qty, price, divisible):
    q = max(qty, 1)
    return (q * price + 500) // 1000 if divisible else q * price


def total_tax(amount, rate):
    return (amount * rate * 2 + 10000) // 20000


def expected_figures(plan):
    """The printer's figures of a receipt, as the printer computes them (taxes on the totals):
    (sales part, return part, total)."""
    sales = returns = 0
    group_sales = {g: 0 for g in TAXES}
    group_returns = {g: 0 for g in TAXES}
    returning = plan["return"]
    for line in plan["lines"]:
        if line.get("switch"):
            returning = True
        amount = line_sum(line["qty"], line["price"], line["div"])
        if line["dir"] >= 0 and line["disc"] >= 1:
            disc = min(line["disc"], amount) if line["dir"] == 0 else line["disc"]
            amount = amount - disc if line["dir"] == 0 else amount + disc
        for g in {line["t1"], line["t2"]} - {0}:
            (group_returns if returning else group_sales)[g] += amount
        if returning:
            returns += amount
        else:
            sales += amount

    def part(base, groups):
        added = sum(total_tax(groups[g], r) for g, (t, r) in TAXES.items() if t == "1")
        taken = sum(total_tax(groups[g], r) for g, (t, r) in TAXES.items() if t == "2")
        return base + added - taken

    sales_part = part(sales, group_sales) if sales else 0
    return_part = part(returns, group_returns) if returns else 0
    return sales_part, return_part, sales_part - return_part


def make_receipt(rng, rid, fault, slow_text_lines):
    """A random receipt: lines of the catalog, discounts, surcharges, a return part or a
    return receipt, free text, and payments that cover it."""
    kind = rng.random()
    plan = {"id": rid, "dept": f"R{rid:06d}", "return": kind < 0.08, "lines": [], "text": [],
            "fault": fault}
    n = rng.choice([1, 1, 2, 2, 3, 3, 4, 5, 6, 8, 12])
    switch_at = rng.randrange(1, n) if (kind > 0.92 and n > 1) else None
    for i in range(n):
        name, divisible, t1, t2 = CATALOG[rng.randrange(len(CATALOG))]
        article = CATALOG.index((name, divisible, t1, t2)) + 1 if rng.random() < 0.7 else 0
        qty = rng.randint(1, 3000) if divisible else rng.choice([1, 1, 1, 2, 3, 5, 10])
        price = rng.randint(100, 99999)
        line = {"name": name, "qty": qty, "price": price, "div": divisible, "t1": t1, "t2": t2,
                "article": article, "dir": -1, "disc_name": "", "disc": 0,
                "switch": switch_at is not None and i == switch_at}
        r = rng.random()
        if r < 0.15:
            amount = line_sum(qty, price, divisible)
            line.update(dir=0, disc_name="Знижка", disc=rng.randint(1, max(1, amount // 3)))
        elif r < 0.2:
            line.update(dir=1, disc_name="Надбавка", disc=rng.randint(1, 5000))
        plan["lines"].append(line)
    if fault == "bad-line":
        # a line on a tax group the printer does not have: refused, the receipt is aborted
        plan["lines"].insert(rng.randrange(len(plan["lines"]) + 1),
                             {"name": "Невідомий", "qty": 1, "price": 500, "div": 0,
                              "t1": UNPROGRAMMED_GROUP, "t2": 0, "article": 0, "dir": -1,
                              "disc_name": "", "disc": 0, "switch": False, "bad": True})
    if fault in ("slow", "slow-power", "slow-unplug"):
        plan["text"] = [f"soak {rid} text {i}" for i in range(slow_text_lines)]
    elif rng.random() < 0.1:
        plan["text"] = [f"soak {rid} note {i}" for i in range(rng.randint(1, 3))]
    make_receipt_fix(plan)
    for _ in range(10):
        if plan["expect"]["total"] not in (0, -1):
            break
        # 0 and -1 are the close's failure values: a receipt of that total could not be told
        # from a failed close
        plan["lines"][0]["price"] += 137
        make_receipt_fix(plan)
    return finish_payments(rng, plan, fault)


def make_receipt_fix(plan):
    good = {**plan, "lines": [ln for ln in plan["lines"] if not ln.get("bad")]}
    plan["expect"] = dict(zip(("sales", "returns", "total"), expected_figures(good)))
    return plan


def finish_payments(rng, plan, fault):
    total = plan["expect"]["total"]
    card = credit = packing = 0
    if total > 0:
        r = rng.random()
        if r < 0.25:
            card = rng.randint(0, total)
        elif r < 0.3:
            credit = rng.randint(0, total)
        elif r < 0.33:
            packing = rng.randint(0, min(total, 2000))
        cash = total - card - credit - packing
        if rng.random() < 0.3:
            cash += rng.randint(1, 20000)  # change
    else:
        cash = -total
    if fault == "underpay":
        cash -= rng.randint(2, 500) + max(0, cash + card + credit + packing - abs(total))
    plan["pay"] = [cash, card, credit, packing]
    return plan


MONEY = re.compile(r"(-?)(\d+)\.(\d\d)$")


def money(text):
    m = MONEY.search(text.strip())
    if not m:
        return None
    value = int(m.group(2)) * 100 + int(m.group(3))
    return -value if m.group(1) else value


def read_tape(path):
    """The fiscal receipts on a control tape: dicts of dept, check, sales, returns, total."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except FileNotFoundError:
        return []
    receipts = []
    for doc in text.split("-" * 44 + "\n"):
        lines = doc.split("\n")
        if not any(ln.strip() in ("ФІСКАЛЬНИЙ ЧЕК", "ВИДАТКОВИЙ ЧЕК") for ln in lines[:6]):
            continue
        r = {"dept": None, "check": None, "sales": 0, "returns": 0, "total": None}
        after_rule = False
        for ln in lines:
            if ln.startswith("ВІДДІЛ "):
                r["dept"] = ln[len("ВІДДІЛ "):].strip()
            elif ln.startswith("=" * 10):
                after_rule = True
            elif after_rule and ln.startswith("ПРОДАЖ "):
                r["sales"] = money(ln)
            elif after_rule and ln.startswith("ПОВЕРНЕННЯ "):
                r["returns"] = money(ln)
            elif after_rule and ln.startswith("СУМА "):
                r["total"] = money(ln)
            m = re.match(r"ЧЕК № (\d+)\s", ln)
            if m:
                r["check"] = int(m.group(1))
        receipts.append(r)
    return receipts


def parse_registers(line):
    """`checks=3 z=0 cash=... sales=... returns=...` as a dict of ints."""
    out = {}
    for word in line.split():
        k, _, v = word.partition("=")
        try:
            out[k] = int(v)
        except ValueError:
            pass
    return out


def fault_plan(rng, n, rate, kinds, weights):
    """Which receipts carry which fault: every kind at least once when there are enough
    faulty receipts, the rest drawn by weight."""
    faulty = [i for i in range(n) if rng.random() < rate]
    plan = {}
    first = list(kinds)
    rng.shuffle(first)
    for i, rid in enumerate(faulty):
        plan[rid] = first[i] if i < len(first) else rng.choices(kinds, weights)[0]
    return plan


def new_rng(seed, *salt):
    return random.Random(f"{seed}:{':'.join(map(str, salt))}")
