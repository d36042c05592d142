#!/usr/bin/env python3
"""Writes report.md, receipts.svg and latency.svg from the JSON of the benchmark programs.

Every figure is set against a limit or a baseline measured in the same run, because the
machines the benchmarks run on are shared and noisy: a ratio survives that, a raw figure not.
A benchmark that did not run or failed shows as such; it never stops the report.
Usage: bench_report.py JSON_DIR OUT_DIR
"""

import json
import math
import re
import sys
from datetime import datetime
from pathlib import Path
from xml.sax.saxutils import escape

RECEIPT_SIZES = (1, 10, 50)
PRINT_TIMES = (0, 20)
CLIENT_COUNTS = (1, 10, 100)
PORT_COUNTS = (1, 2, 4, 8)
PAGE_BYTES_LIMIT = 100 * 1024
STATUS_DELAY_LIMIT_MS = 100  # what an operator takes for at once
LINE_LIMIT = 1.05  # a receipt may take 5 % more than its bytes and print time on the line
LOAD_CLIENT_COUNTS = (1, 10, 100, 1000)
LOAD_BASE_CLIENTS = 10
LOAD_RATE_FLOOR = 0.8  # 1000 clients keep at least this share of the 10 clients' rate
LOAD_P99_LIMIT_US = 20_000
LOAD_SLOWEST_LIMIT_US = 1_000_000
IDLE_CONNECTION_LIMIT_KIB = 64
TRICKLE_P99_GOAL = 2  # the working clients' p99 beside the tricklers, against it without them
# Run options Google Benchmark appends to a name ("/iterations:3", "/real_time", ...).
OPTIONS = re.compile(r"/(?:[a-z_]+:[^/]*|real_time|manual_time|process_time)")


def load(json_dir):
    """The benchmarks as {"program:name": run}, names without their run options, the median
    where repetitions were run; the context of the first program; the files not readable."""
    runs, context, unreadable = {}, {}, []
    for path in sorted(Path(json_dir).glob("*.json")):
        try:
            text = path.read_text()
            data = json.loads(text) if text.strip() else {}  # empty: the filter matched nothing
        except (OSError, ValueError) as error:
            unreadable.append(f"{path.name}: {error}")
            continue
        context = context or data.get("context", {})
        for bench in data.get("benchmarks", []):
            aggregate = bench.get("aggregate_name")
            if bench.get("run_type") == "aggregate" and aggregate != "median":
                continue
            name = OPTIONS.sub("", bench.get("run_name") or bench.get("name", "?"))
            key = f"{path.stem}:{name}"
            if key not in runs or aggregate == "median":
                runs[key] = dict(bench, program=path.stem, short=name)
    return runs, context, unreadable


def number(value):
    ok = isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)
    return value if ok else None


def counter(runs, name, key):
    """A figure of a benchmark that ran without error, else None."""
    bench = runs.get(name)
    return number(bench.get(key)) if bench and not bench.get("error_occurred") else None


def error_text(bench):
    return "error: " + cell(bench.get("error_message") or "no message")


def why_missing(runs, name, key=None):
    bench = runs.get(name)
    if bench and bench.get("error_occurred"):
        return error_text(bench)
    return f"ran, but no {key} (got {bench.get(key)!r})" if bench and key else "not measured"


def fmt(value, digits=None):
    if value is None:
        return "—"
    if digits is None:
        digits = 0 if abs(value) >= 100 else (1 if abs(value) >= 10 else 2)
    return f"{value:,.{digits}f}"


def fmt_ratio(value):
    return fmt(value, 2 if value is not None and value < 10 else None)


def cell(text):
    return str(text).replace("|", "\\|").replace("\n", " ")


def plural(n, word):
    return f"{n} {word}{'s' if n != 1 else ''}"


def receipt(lines, print_ms):
    return f"line_bench:BM_ReceiptOverTheLine/{lines}/{print_ms}"


class Table:
    """The main table: each row a figure, what it is held against, the ratio and a verdict.
    Rows of one kind also make up one row of the table for the README."""

    def __init__(self, runs):
        self.runs, self.rows, self.readme_rows = runs, [], {}

    def add(self, name, key, what, unit, ref, ref_text, is_limit, scale=1, extra="", readme=None,
            goal=None, digits=None):
        """readme: (the README row's text, what that row is held against), or None.
        goal: (">=" or "<=", bound) that the ratio is held to, where it is not held to 1.
        digits: of the figure, where it is a count."""
        value = counter(self.runs, name, key)
        r = value / ref if value is not None and ref else None
        if r is None or not (is_limit or goal):
            verdict = "—"
        elif goal:
            verdict = "ok" if (r >= goal[1] if goal[0] == ">=" else r <= goal[1]) else \
                ("under" if goal[0] == ">=" else "over")
        else:
            verdict = "ok" if r <= 1 else "over"
        row = {"what": what, "shown": None if value is None else value * scale, "unit": unit,
               "ratio": r, "ref_text": ref_text,
               "figure": f"{fmt(value * scale, digits)}{unit}{extra}" if value is not None
               else why_missing(self.runs, name, key),
               "verdict": verdict}
        self.rows.append(row)
        if readme:
            group = self.readme_rows.setdefault(readme[0], {"rows": []})
            group["against"] = readme[1]
            group["rows"].append(row)

    def markdown(self):
        lines = ["| what | figure | limit or baseline | ratio | verdict |", "|---|---|---|---|---|"]
        return "\n".join(lines + [f"| {r['what']} | {r['figure']} | {r['ref_text']} | "
                                  f"{fmt_ratio(r['ratio'])} | {r['verdict']} |" for r in self.rows])

    def readme(self):
        lines = ["| what | measured | ratio |", "|---|---|---|"]
        for what, group in self.readme_rows.items():
            rows = group["rows"]
            if all(r["shown"] is None for r in rows):
                lines.append(f"| {what} | {rows[0]['figure']} | — |")
                continue
            measured = " / ".join(fmt(r["shown"]) for r in rows) + rows[0]["unit"]
            ratios = " / ".join(fmt_ratio(r["ratio"]) for r in rows)
            lines.append(f"| {what} | {measured} ({group['against']}) | {ratios} |")
        return "\n".join(lines)


def receipt_rows(runs, table):
    """The six receipts over the line into the main table; returns their own table."""
    detail = ["| lines | print ms/line | bytes | wire ms | print ms | wall ms | wall / line time |",
              "|---|---|---|---|---|---|---|"]
    for lines in RECEIPT_SIZES:
        line_ms = [counter(runs, receipt(lines, p), "line_ms") for p in PRINT_TIMES]
        readme = (f"receipt of {plural(lines, 'line')}, print 0 / 20 ms a line",
                  f"line time {' / '.join(map(fmt, line_ms))} ms, limit 1.05 × line time")
        for print_ms, line in zip(PRINT_TIMES, line_ms):
            name = receipt(lines, print_ms)
            get = lambda key, n=name: counter(runs, n, key)  # noqa: E731
            limit = LINE_LIMIT * line if line else None
            table.add(name, "wall_ms", f"receipt of {plural(lines, 'line')} through HTTP, 57600 "
                      f"baud, print {print_ms} ms/line", " ms", limit,
                      f"1.05 × line time {fmt(line)} ms = {fmt(limit)} ms" if limit
                      else "1.05 × line time", True, extra=f" ({fmt(get('bytes'))} B)",
                      readme=readme)
            figures = [get(k) for k in ("bytes", "wire_ms", "print_ms", "wall_ms")]
            figures = " | ".join(map(fmt, figures)) + f" | {fmt(get('ratio'), 3)}" \
                if get("wall_ms") is not None else why_missing(runs, name) + " | | | | |"
            detail.append(f"| {lines} | {print_ms} | {figures} |")
    return "\n".join(detail)


def other_rows(runs, table):
    for name, key, what, unit, limit in (
            ("http_bench:BM_FiscalLine", "p50_us",
             "`FiscalLine` through HTTP, printer answering at once, median", " µs", 2000),
            ("http_bench:BM_GetCheckSum", "p50_us", "`GetCheckSum` through HTTP, median", " µs",
             300),
            ("receipt_bench:BM_ReceiptAt57600", "ratio_to_line_limit",
             "receipt of 10 lines in process at 57600 baud, wall / wire time", "", LINE_LIMIT)):
        text = f"{fmt(limit, 2 if limit < 10 else 0)}{unit}"
        table.add(name, key, what, unit, limit, text, True, readme=(what, f"limit {text}"))

    one_port = counter(runs, "http_bench:BM_ReceiptsPerSecond/1", "receipts_per_s")
    for ports in PORT_COUNTS:
        table.add(f"http_bench:BM_ReceiptsPerSecond/{ports}", "receipts_per_s",
                  f"receipts of 3 lines per second over {plural(ports, 'port')}", "/s",
                  ports * one_port if one_port else None, f"{ports} × the 1-port rate", False,
                  readme=("receipts of 3 lines per second over 2 / 4 / 8 ports",
                          f"n × {fmt(one_port)}/s on 1 port") if ports > 1 else None)

    base_p50 = counter(runs, "http_bench:BM_Clients/1", "p50_us")
    base_rate = counter(runs, "http_bench:BM_Clients/1", "calls_per_s")
    p50_text, rate_text = f"p50 at 1 client, {fmt(base_p50)} µs", f"{fmt(base_rate)}/s at 1 client"
    for clients in CLIENT_COUNTS:
        name, at, many = f"http_bench:BM_Clients/{clients}", plural(clients, "client"), clients > 1
        for key in ("p50_us", "p99_us"):
            table.add(name, key, f"`GetCheckSum` at {at}, {key[:3]}", " µs", base_p50, p50_text,
                      False, readme=(f"`GetCheckSum` at 10 / 100 clients, {key[:3]}", p50_text)
                      if many else None)
        table.add(name, "calls_per_s", f"calls per second at {at}", "/s", base_rate, rate_text,
                  False, readme=("calls per second at 10 / 100 clients", rate_text)
                  if many else None)

    what = "CPU of the idle daemon, 8 logged-in printers"
    table.add("http_bench:BM_IdleDaemonCpu", "cpu_percent_of_core", what, " % of a core", 1.0,
              "1 % of a core", True, readme=(what, "limit 1 %"))
    links = sorted(n for n in runs if n.startswith("idle_link_bench:BM_IdleOpenLink/"))
    for name in links or ["idle_link_bench:BM_IdleOpenLink"]:
        table.add(name, "cpu_percent_of_core", "CPU of an idle open link", " % of a core", 1.0,
                  "1 % of a core", True)

    memory, start = "http_bench:BM_MemoryEightPortsThousandObjects", "http_bench:BM_StartToHealthz"
    idle, exec_ms = counter(runs, memory, "rss_idle_KiB"), counter(runs, start, "exec_baseline_ms")
    for name, key, what, unit, base, against, scale in (
            (memory, "rss_KiB", "resident memory, 8 ports and 1,000 objects", " MiB", idle,
             f"the same daemon before the objects, {fmt(idle and idle / 1024)} MiB", 1 / 1024),
            (start, "start_to_healthz_ms", "process start to `/healthz` answering", " ms", exec_ms,
             f"a bare start and exit of the same program, {fmt(exec_ms)} ms", 1)):
        table.add(name, key, what, unit, base, against, False, scale, readme=(what, against))


def load_rows(runs, table):
    """The listener under many keep-alive clients, idle connections and trickling ones."""
    base = f"http_load_bench:BM_KeepAliveClients/{LOAD_BASE_CLIENTS}"
    base_rate = counter(runs, base, "calls_per_s")
    rate_text = f"{fmt(base_rate)}/s at {LOAD_BASE_CLIENTS} clients"
    for clients in LOAD_CLIENT_COUNTS:
        name, at = f"http_load_bench:BM_KeepAliveClients/{clients}", plural(clients, "client")
        timeouts = counter(runs, name, "timeouts")
        late = f" ({fmt(timeouts, 0)} timed out)" if timeouts else ""
        answered = counter(runs, name, "clients_answered")
        served = f" ({fmt(answered, 0)} of the clients answered)" \
            if answered is not None and answered < clients else ""
        floor = clients == max(LOAD_CLIENT_COUNTS)
        readme = ("`GetCheckSum` per second at 1 / 100 / 1,000 keep-alive clients", rate_text)
        table.add(name, "calls_per_s", f"`GetCheckSum` per second at {at} kept alive", "/s",
                  base_rate, rate_text + (f", goal ≥ {LOAD_RATE_FLOOR} ×" if floor else ""),
                  False, extra=served, readme=readme if clients != LOAD_BASE_CLIENTS else None,
                  goal=(">=", LOAD_RATE_FLOOR) if floor else None)
        for key, limit, what in (("p99_us", LOAD_P99_LIMIT_US, "p99"),
                                 ("slowest_us", LOAD_SLOWEST_LIMIT_US, "slowest call")):
            text = f"limit {fmt(limit / 1000)} ms"
            table.add(name, key, f"`GetCheckSum` at {at} kept alive, {what}", " ms", limit, text,
                      True, 1 / 1000, extra=late if key == "slowest_us" else "",
                      readme=(f"`GetCheckSum` at 1 / 10 / 100 / 1,000 keep-alive clients, {what}",
                              text))

    name = "http_load_bench:BM_IdleConnectionMemory"
    connections, answered = counter(runs, name, "connections"), counter(runs, name, "answered")
    what = f"resident memory per idle keep-alive connection, {fmt(connections, 0)} open"
    text = f"limit {IDLE_CONNECTION_LIMIT_KIB} KiB"
    table.add(name, "rss_per_connection_KiB", what, " KiB", IDLE_CONNECTION_LIMIT_KIB, text, True,
              extra=f" ({fmt(answered, 0)} of them answered)" if answered is not None else "",
              readme=(what, text))

    name = "http_load_bench:BM_TricklingConnections"
    alone, tricklers = counter(runs, name, "p99_us_alone"), counter(runs, name, "tricklers")
    what = f"p99 of 10 working clients beside {fmt(tricklers, 0)} connections trickling headers"
    text = f"the same clients alone, {fmt(alone and alone / 1000)} ms; " \
        f"goal ≤ {TRICKLE_P99_GOAL} ×"
    table.add(name, "p99_us_trickling", what, " ms", alone, text, False, 1 / 1000,
              readme=(what, text), goal=("<=", TRICKLE_P99_GOAL))
    timeouts = counter(runs, name, "timeouts_trickling")
    late = f" ({fmt(timeouts, 0)} timed out)" if timeouts else ""
    rate = counter(runs, name, "calls_per_s_alone")
    what = "calls per second of the 10 working clients beside the trickling connections"
    text = f"the same clients alone, {fmt(rate)}/s"
    table.add(name, "calls_per_s_trickling", what, "/s", rate, text, False, readme=(what, text))
    text = f"limit {fmt(LOAD_SLOWEST_LIMIT_US / 1000)} ms"
    table.add(name, "slowest_us_trickling", "slowest call of the 10 working clients beside the "
              "trickling connections", " ms", LOAD_SLOWEST_LIMIT_US, text, True, 1 / 1000,
              extra=late)
    opened = counter(runs, name, "trickler_connections")
    table.add(name, "tricklers_closed_by_server", "trickling connections the server closed", "",
              opened, f"trickling connections opened, {fmt(opened, 0)}", False, digits=0)


def page_rows(runs, table):
    what = "what the operator's page fetches at its first load"
    table.add("page_bench:BM_PageBytes", "page_bytes", what, " KiB", PAGE_BYTES_LIMIT,
              "100 KiB", True, 1 / 1024, readme=(what, "limit 100 KiB"))
    static = counter(runs, "page_bench:BM_ListPaint", "static_paint_ms")
    against = f"first paint of the static help page, {fmt(static)} ms"
    what = "load to the connection list drawn, median of 10"
    table.add("page_bench:BM_ListPaint", "list_paint_ms", what, " ms", static, against, False,
              readme=(what, against))
    for key, what in (("call_to_page_ms", "a status change to its box on the page, from the call"),
                      ("stream_to_page_ms", "a status change to its box on the page, from the"
                                            " event stream")):
        table.add("page_bench:BM_StatusDelay", key, what + ", median of 40", " ms",
                  STATUS_DELAY_LIMIT_MS, "100 ms", True, readme=(what, "limit 100 ms"))


def every_benchmark(runs):
    lines = ["| program | benchmark | real time | counters |", "|---|---|---|---|"]
    skip = {"repetitions", "repetition_index", "threads", "iterations", "real_time", "cpu_time",
            "family_index", "per_family_instance_index"}
    for bench in sorted(runs.values(), key=lambda b: (b["program"], b.get("name", ""))):
        head = f"| {bench['program']} | {cell(bench['short'])} |"
        if bench.get("error_occurred"):
            lines.append(f"{head} — | {error_text(bench)} |")
            continue
        shown = [cell(bench["label"])] if bench.get("label") else []
        shown += [f"{k}={fmt(v)}" for k, v in bench.items()
                  if k not in skip and number(v) is not None]
        time = fmt(number(bench.get("real_time")))
        lines.append(f"{head} {time} {bench.get('time_unit', '')} | {' '.join(shown)} |")
    return "\n".join(lines)


def svg(title, width, height, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 {width} {height}" '
            f'width="{width}" height="{height}" font-family="sans-serif" font-size="12">\n'
            f'<title>{escape(title)}</title>\n<rect width="100%" height="100%" fill="white"/>\n'
            f'<text x="{width / 2}" y="22" text-anchor="middle" font-size="15">{escape(title)}'
            f'</text>\n' + "\n".join(body) + "\n</svg>\n")


def frame(box, y_label, x_label, y_ticks, x_ticks):
    """Axes with labels, a grid line per (y, text) tick and a label per (x, text) tick."""
    left, top, right, bottom = box
    middle = (top + bottom) / 2
    body = [f'<line x1="{left}" y1="{bottom}" x2="{right}" y2="{bottom}" stroke="black"/>',
            f'<line x1="{left}" y1="{top}" x2="{left}" y2="{bottom}" stroke="black"/>',
            f'<text x="16" y="{middle}" transform="rotate(-90 16 {middle})" '
            f'text-anchor="middle">{escape(y_label)}</text>',
            f'<text x="{(left + right) / 2}" y="{bottom + 56}" text-anchor="middle">'
            f'{escape(x_label)}</text>']
    body += [f'<line x1="{left - 4}" y1="{y:.1f}" x2="{right}" y2="{y:.1f}" stroke="#eeeeee"/>'
             f'<text x="{left - 8}" y="{y + 4:.1f}" text-anchor="end">{text}</text>'
             for y, text in y_ticks]
    return body + [f'<text x="{x:.1f}" y="{bottom + 36}" text-anchor="middle">{escape(text)}</text>'
                   for x, text in x_ticks]


def legend(x, y, entries):
    return [f'<rect x="{x}" y="{y + i * 18}" width="12" height="12" fill="{color}"/>'
            f'<text x="{x + 18}" y="{y + i * 18 + 10}">{escape(text)}</text>'
            for i, (text, color) in enumerate(entries)]


def nice_ticks(top, count=5):
    """0 and steps of 1, 2 or 5 times a power of ten up to the first tick at or above top."""
    magnitude = 10 ** math.floor(math.log10(top / count))
    step = next(f * magnitude for f in (1, 2, 5, 10) if top / (f * magnitude) <= count)
    return [step * i for i in range(math.ceil(top / step - 1e-9) + 1)]


def receipts_svg(runs):
    left, top, right, bottom = box = (70, 50, 680, 350)
    colors = {"wall time": "#1f77b4", "line time": "#bbbbbb", "limit": "#d62728"}
    pairs = {(n, p): (counter(runs, receipt(n, p), "wall_ms"), counter(runs, receipt(n, p),
                                                                         "line_ms"))
             for n in RECEIPT_SIZES for p in PRINT_TIMES}
    ticks = nice_ticks(max([v for pair in pairs.values() for v in pair if v] + [1.0]) * LINE_LIMIT)
    y_of = lambda v: bottom - v / ticks[-1] * (bottom - top)  # noqa: E731
    centre = lambda g: left + (g + 0.5) * (right - left) / len(RECEIPT_SIZES)  # noqa: E731
    body = frame(box, "ms per receipt", "receipt size; print time in ms a line",
                 [(y_of(t), f"{t:,g}") for t in ticks],
                 [(centre(g), plural(n, "line")) for g, n in enumerate(RECEIPT_SIZES)])
    for (lines, print_ms), (wall, line) in pairs.items():
        x = centre(RECEIPT_SIZES.index(lines)) + PRINT_TIMES.index(print_ms) * 70 - 60
        body.append(f'<text x="{x + 25:.1f}" y="{bottom + 18}" text-anchor="middle" '
                    f'font-size="10">print {print_ms}</text>')
        if wall is None or line is None:
            why = why_missing(runs, receipt(lines, print_ms))
            body.append(f'<text x="{x + 29:.1f}" y="{bottom - 6}" font-size="10" fill="#aa0000" '
                        f'transform="rotate(-90 {x + 29:.1f} {bottom - 6})">not measured'
                        f'<title>{escape(why)}</title></text>')
            continue
        for j, (kind, value) in enumerate((("wall time", wall), ("line time", line))):
            body.append(f'<rect x="{x + j * 26:.1f}" y="{y_of(value):.1f}" width="24" '
                        f'height="{bottom - y_of(value):.1f}" fill="{colors[kind]}"><title>'
                        f'{plural(lines, "line")}, print {print_ms} ms a line: {kind} '
                        f'{value:,.1f} ms</title></rect>')
        y = y_of(line * LINE_LIMIT)
        body.append(f'<line x1="{x - 4:.1f}" y1="{y:.1f}" x2="{x + 54:.1f}" y2="{y:.1f}" '
                    f'stroke="{colors["limit"]}" stroke-width="2"><title>limit '
                    f'{line * LINE_LIMIT:,.1f} ms</title></line>'
                    f'<text x="{x + 25:.1f}" y="{min(y, y_of(wall)) - 6:.1f}" text-anchor="middle"'
                    f' font-size="10">{wall / line:.2f} ×</text>')
    body += legend(right + 20, top, (("wall time through HTTP", colors["wall time"]),
                                     ("line time (wire + print)", colors["line time"]),
                                     ("limit: 1.05 × line time", colors["limit"]),
                                     ("n × above a pair: wall / line time", "none")))
    return svg("Receipt time against the line limit (57600 baud)", 920, 420, body)


def latency_svg(runs):
    left, top, right, bottom = box = (80, 50, 560, 310)
    colors = {"p50_us": "#1f77b4", "p90_us": "#ff7f0e", "p99_us": "#d62728"}
    series = {key: [counter(runs, f"http_bench:BM_Clients/{n}", key) for n in CLIENT_COUNTS]
              for key in colors}
    values = [v for points in series.values() for v in points if v and v > 0]
    x_of = lambda i: left + (i + 0.5) * (right - left) / len(CLIENT_COUNTS)  # noqa: E731
    x_ticks = [(x_of(i), str(n)) for i, n in enumerate(CLIENT_COUNTS)]
    title = "Call latency by client count (GetCheckSum through HTTP)"
    if not values:
        return svg(title, 720, 380, frame(box, "µs per call", "clients at once", [], x_ticks) + [
            f'<text x="{(left + right) / 2}" y="{(top + bottom) / 2}" text-anchor="middle" '
            f'fill="#aa0000">not measured</text>'])
    low = math.floor(math.log10(min(values)))
    high = max(math.ceil(math.log10(max(values))), low + 1)
    y_of = lambda v: bottom - (math.log10(v) - low) / (high - low) * (bottom - top)  # noqa: E731
    body = frame(box, "µs per call (log scale)", "clients at once, one port",
                 [(y_of(10 ** p), f"{10 ** p:,g}") for p in range(low, high + 1)], x_ticks)
    for key, points in series.items():
        shown = [(x_of(i), y_of(v), n, v) for i, (n, v) in enumerate(zip(CLIENT_COUNTS, points))
                 if v and v > 0]
        body.append(f'<polyline fill="none" stroke="{colors[key]}" stroke-width="2" points="'
                    + " ".join(f"{x:.1f},{y:.1f}" for x, y, _, _ in shown) + '"/>')
        body += [f'<circle cx="{x:.1f}" cy="{y:.1f}" r="4" fill="{colors[key]}"><title>'
                 f'{key[:3]} at {plural(n, "client")}: {v:,.0f} µs</title></circle>'
                 for x, y, n, v in shown]
    body += legend(right + 20, top, [(key[:3], color) for key, color in colors.items()])
    return svg(title, 720, 380, body)


def machine(context):
    load_avg = ", ".join(f"{v:.2f}" for v in context.get("load_avg", []) if number(v) is not None)
    text = (f"{context.get('host_name', 'an unknown host')}, {context.get('num_cpus', '?')} "
            f"CPUs at {context.get('mhz_per_cpu', '?')} MHz")
    return text + (f", load {load_avg}" if load_avg else "")


def run_date(context):
    try:
        return f"{datetime.fromisoformat(context['date']):%Y-%m-%d %H:%M}"
    except (KeyError, TypeError, ValueError):
        return f"{datetime.now():%Y-%m-%d %H:%M} (no date in the figures)"


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    runs, context, unreadable = load(argv[1])
    out = Path(argv[2])
    out.mkdir(parents=True, exist_ok=True)
    table = Table(runs)
    detail = receipt_rows(runs, table)
    other_rows(runs, table)
    load_rows(runs, table)
    page_rows(runs, table)
    report = [
        "# VektaManager benchmark report", "",
        f"Run of {run_date(context)} on {machine(context)}.", "",
        "Every figure is given as a ratio to a limit or to a baseline measured in the same run; "
        "the ratio is what to compare between runs, since the machines are shared and noisy. "
        "The line time of a receipt is every byte both ways at 12 bits a byte at 57600 baud plus "
        "the simulator's print time.", ""]
    if unreadable:
        report += ["Figures that could not be read (their benchmarks show as not measured):", ""]
        report += [f"- {cell(problem)}" for problem in unreadable] + [""]
    report += [table.markdown(), "", "## Receipts over the line", "", detail, "",
               "![receipts](receipts.svg)", "", "![latency](latency.svg)", "",
               "## For the README", "", table.readme(), "",
               "## Every benchmark", "", every_benchmark(runs), ""]
    (out / "report.md").write_text("\n".join(report))
    (out / "receipts.svg").write_text(receipts_svg(runs))
    (out / "latency.svg").write_text(latency_svg(runs))
    print(out / "report.md")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
