#!/usr/bin/env python3
"""Writes report.md, receipts.svg and latency.svg from the JSON of the benchmark programs.

Every figure is set against a limit or a baseline measured in the same run, because the
machines the benchmarks run on are shared and noisy: a ratio survives that, a raw figure not.
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
LINE_LIMIT = 1.05


def load(json_dir):
    """Benchmarks as "program:name" (names without their option suffixes), and the context of
    one program."""
    runs, context = {}, {}
    for path in sorted(Path(json_dir).glob("*.json")):
        try:
            data = json.loads(path.read_text())
        except (OSError, ValueError) as error:
            print(f"bench_report: {path}: {error}", file=sys.stderr)
            continue
        context = context or data.get("context", {})
        for bench in data.get("benchmarks", []):
            if bench.get("run_type") == "aggregate" and bench.get("aggregate_name") != "median":
                continue
            name = re.sub(r"/(iterations|min_time|real_time|repeats|threads)[^/]*", "",
                          bench.get("run_name", bench["name"]))
            bench["program"] = path.stem
            runs[f"{path.stem}:{name}"] = bench
    return runs, context


def counter(runs, name, key):
    bench = runs.get(name)
    if not bench or bench.get("error_occurred"):
        return None
    value = bench.get(key)
    return value if isinstance(value, (int, float)) else None


def why_missing(runs, name):
    bench = runs.get(name)
    if bench and bench.get("error_occurred"):
        return "error: " + bench.get("error_message", "?")
    return "not measured"


def fmt(value, digits=None):
    if value is None:
        return "—"
    if digits is None:
        digits = 0 if abs(value) >= 100 else (1 if abs(value) >= 10 else 2)
    return f"{value:,.{digits}f}"


class Table:
    """The main table: each row a figure, what it is held against, and the ratio."""

    def __init__(self):
        self.rows = []

    def limit(self, what, figure, shown, limit, limit_text):
        if figure is None:
            self.rows.append((what, "not measured", limit_text, "—", "—"))
            return
        ratio = figure / limit
        self.rows.append((what, shown, limit_text, fmt(ratio, 2), "ok" if ratio <= 1 else "over"))

    def baseline(self, what, figure, shown, base, base_text):
        ratio = figure / base if figure is not None and base else None
        self.rows.append((what, shown if figure is not None else "not measured", base_text,
                          fmt(ratio, 2), "—"))

    def markdown(self):
        lines = ["| what | figure | limit or baseline | ratio | verdict |", "|---|---|---|---|---|"]
        lines += ["| " + " | ".join(row) + " |" for row in self.rows]
        return "\n".join(lines)


def receipt_rows(runs, table):
    detail = ["| lines | print ms/line | bytes | wire ms | print ms | wall ms | wall / line time |",
              "|---|---|---|---|---|---|---|"]
    for lines in RECEIPT_SIZES:
        for print_ms in PRINT_TIMES:
            name = f"line_bench:BM_ReceiptOverTheLine/{lines}/{print_ms}"
            get = lambda key: counter(runs, name, key)  # noqa: E731
            what = f"receipt of {lines} line{'s' if lines > 1 else ''} through HTTP at 57600 baud, " \
                   f"print {print_ms} ms/line"
            if get("wall_ms") is None:
                table.limit(what, None, why_missing(runs, name), 1, "1.05 × line time")
                detail.append(f"| {lines} | {print_ms} | {why_missing(runs, name)} | | | | |")
                continue
            limit_ms = LINE_LIMIT * get("line_ms")
            table.limit(what, get("wall_ms"), f"{fmt(get('wall_ms'))} ms ({fmt(get('bytes'))} B)",
                        limit_ms, f"1.05 × line time {fmt(get('line_ms'))} ms = {fmt(limit_ms)} ms")
            detail.append(f"| {lines} | {print_ms} | {fmt(get('bytes'))} | {fmt(get('wire_ms'))} | "
                          f"{fmt(get('print_ms'))} | {fmt(get('wall_ms'))} | {fmt(get('ratio'), 3)} |")
    return "\n".join(detail)


def other_rows(runs, table):
    p50 = counter(runs, "http_bench:BM_FiscalLine", "p50_us")
    table.limit("`FiscalLine` through HTTP, printer answering at once, median", p50,
                f"{fmt(p50)} µs", 2000, "2,000 µs")
    p50 = counter(runs, "http_bench:BM_GetCheckSum", "p50_us")
    table.limit("`GetCheckSum` through HTTP, median", p50, f"{fmt(p50)} µs", 300, "300 µs")
    ratio = counter(runs, "receipt_bench:BM_ReceiptAt57600", "ratio_to_line_limit")
    table.limit("receipt of 10 lines in process at 57600 baud, wall / wire time", ratio,
                fmt(ratio, 3), LINE_LIMIT, "1.05")

    one_port = counter(runs, "http_bench:BM_ReceiptsPerSecond/1", "receipts_per_s")
    for ports in PORT_COUNTS:
        rate = counter(runs, f"http_bench:BM_ReceiptsPerSecond/{ports}", "receipts_per_s")
        table.baseline(f"receipts of 3 lines per second over {ports} port(s)", rate,
                       f"{fmt(rate)}/s", ports * one_port if one_port else None,
                       f"{ports} × the 1-port rate")

    base_p50 = counter(runs, "http_bench:BM_Clients/1", "p50_us")
    base_rate = counter(runs, "http_bench:BM_Clients/1", "calls_per_s")
    for clients in CLIENT_COUNTS:
        name = f"http_bench:BM_Clients/{clients}"
        for key in ("p50_us", "p99_us"):
            value = counter(runs, name, key)
            table.baseline(f"`GetCheckSum` at {clients} client(s), {key[:3]}", value,
                           f"{fmt(value)} µs", base_p50, "p50 at 1 client")
        rate = counter(runs, name, "calls_per_s")
        table.baseline(f"calls per second at {clients} client(s)", rate, f"{fmt(rate)}/s",
                       base_rate, "calls/s at 1 client")

    for name, what in (("http_bench:BM_IdleDaemonCpu", "CPU of the idle daemon with 8 logged-in printers"),
                       ("idle_link_bench:BM_IdleOpenLink/10", "CPU of an idle open link")):
        cpu = counter(runs, name, "cpu_percent_of_core")
        table.limit(what, cpu, f"{fmt(cpu, 2)} % of a core", 1.0, "1 % of a core")

    rss = counter(runs, "http_bench:BM_MemoryEightPortsThousandObjects", "rss_KiB")
    idle = counter(runs, "http_bench:BM_MemoryEightPortsThousandObjects", "rss_idle_KiB")
    table.baseline("resident memory, 8 ports and 1,000 objects", rss,
                   f"{fmt(rss / 1024 if rss else None, 1)} MiB", idle,
                   f"the same daemon idle, {fmt(idle / 1024 if idle else None, 1)} MiB")
    start = counter(runs, "http_bench:BM_StartToHealthz", "start_to_healthz_ms")
    base = counter(runs, "http_bench:BM_StartToHealthz", "exec_baseline_ms")
    table.baseline("process start to `/healthz` answering", start, f"{fmt(start)} ms", base,
                   f"start and end of `vektamanager --help`, {fmt(base)} ms")


def every_benchmark(runs):
    lines = ["| program | benchmark | time | counters |", "|---|---|---|---|"]
    skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads",
            "iterations", "real_time", "cpu_time", "time_unit", "family_index",
            "per_family_instance_index", "program", "label", "aggregate_name", "error_occurred",
            "error_message"}
    for name, bench in sorted(runs.items()):
        short = name.split(":", 1)[1]
        if bench.get("error_occurred"):
            lines.append(f"| {bench['program']} | {short} | error | {bench.get('error_message', '')} |")
            continue
        counters = " ".join(f"{k}={fmt(v)}" for k, v in bench.items()
                            if k not in skip and isinstance(v, (int, float)))
        if bench.get("label"):
            counters = f"{bench['label']} {counters}"
        lines.append(f"| {bench['program']} | {short} | {fmt(bench['real_time'])} "
                     f"{bench['time_unit']} | {counters} |")
    return "\n".join(lines)


def svg(title, width, height, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 {width} {height}" '
            f'width="{width}" height="{height}" font-family="sans-serif" font-size="12">\n'
            f'<title>{escape(title)}</title>\n<rect width="100%" height="100%" fill="white"/>\n'
            f'<text x="{width / 2}" y="20" text-anchor="middle" font-size="15">{escape(title)}'
            f'</text>\n{body}</svg>\n')


def nice_ticks(top, count=5):
    step = 10 ** math.floor(math.log10(top / count)) if top > 0 else 1
    for factor in (1, 2, 5, 10):
        if top / (step * factor) <= count:
            step *= factor
            break
    return [step * i for i in range(int(top / step) + 2)]


def receipts_svg(runs):
    width, height, left, bottom, top = 760, 400, 70, 320, 40
    colors = {"wall": "#1f77b4", "line": "#bbbbbb"}
    values = [counter(runs, f"line_bench:BM_ReceiptOverTheLine/{n}/{p}", k) or 0
              for n in RECEIPT_SIZES for p in PRINT_TIMES for k in ("wall_ms", "line_ms")]
    ticks = nice_ticks(max(values + [1]) * LINE_LIMIT)
    scale = (bottom - top) / ticks[-1]
    body = [f'<line x1="{left}" y1="{bottom}" x2="{width - 20}" y2="{bottom}" stroke="black"/>',
            f'<line x1="{left}" y1="{top}" x2="{left}" y2="{bottom}" stroke="black"/>',
            f'<text x="16" y="{(top + bottom) / 2}" transform="rotate(-90 16 {(top + bottom) / 2})" '
            f'text-anchor="middle">ms per receipt</text>']
    for tick in ticks:
        y = bottom - tick * scale
        body.append(f'<line x1="{left - 4}" y1="{y:.1f}" x2="{width - 20}" y2="{y:.1f}" '
                    f'stroke="#eeeeee"/><text x="{left - 8}" y="{y + 4:.1f}" '
                    f'text-anchor="end">{tick:g}</text>')
    group = (width - left - 40) / len(RECEIPT_SIZES)
    for g, lines in enumerate(RECEIPT_SIZES):
        x0 = left + 20 + g * group
        body.append(f'<text x="{x0 + group / 2 - 20:.1f}" y="{bottom + 20}" text-anchor="middle">'
                    f'{lines} line{"s" if lines > 1 else ""}</text>')
        for i, print_ms in enumerate(PRINT_TIMES):
            name = f"line_bench:BM_ReceiptOverTheLine/{lines}/{print_ms}"
            wall, line = counter(runs, name, "wall_ms"), counter(runs, name, "line_ms")
            x = x0 + i * (group / 2 - 10)
            if wall is None or line is None:
                body.append(f'<text x="{x + 30:.1f}" y="{bottom - 10}" text-anchor="middle" '
                            f'fill="#aa0000">not measured</text>')
                continue
            for j, (kind, value) in enumerate((("wall", wall), ("line", line))):
                h = value * scale
                body.append(f'<rect x="{x + j * 26:.1f}" y="{bottom - h:.1f}" width="24" '
                            f'height="{h:.1f}" fill="{colors[kind]}"><title>{kind} {value:.1f} ms, '
                            f'print {print_ms} ms/line</title></rect>')
            y = bottom - line * LINE_LIMIT * scale
            body.append(f'<line x1="{x - 4:.1f}" y1="{y:.1f}" x2="{x + 54:.1f}" y2="{y:.1f}" '
                        f'stroke="#d62728" stroke-width="2"/>')
            body.append(f'<text x="{x + 25:.1f}" y="{bottom + 34}" text-anchor="middle" '
                        f'font-size="10">print {print_ms}</text>')
    legend = (("wall time through HTTP", colors["wall"]), ("line time (wire + print)",
                                                         colors["line"]),
              ("limit: 1.05 × line time", "#d62728"))
    for i, (text, color) in enumerate(legend):
        body.append(f'<rect x="{left + 10 + i * 200}" y="{height - 18}" width="12" height="12" '
                    f'fill="{color}"/><text x="{left + 28 + i * 200}" y="{height - 8}">{text}</text>')
    return svg("Receipt time against the line limit (57600 baud)", width, height, "\n".join(body))


def latency_svg(runs):
    width, height, left, bottom, top, right = 640, 360, 80, 300, 40, 600
    series = {key: [(n, counter(runs, f"http_bench:BM_Clients/{n}", key)) for n in CLIENT_COUNTS]
              for key in ("p50_us", "p90_us", "p99_us")}
    values = [v for points in series.values() for _, v in points if v]
    body = [f'<line x1="{left}" y1="{bottom}" x2="{right}" y2="{bottom}" stroke="black"/>',
            f'<line x1="{left}" y1="{top}" x2="{left}" y2="{bottom}" stroke="black"/>',
            f'<text x="18" y="{(top + bottom) / 2}" transform="rotate(-90 18 {(top + bottom) / 2})" '
            f'text-anchor="middle">µs per call (log)</text>',
            f'<text x="{(left + right) / 2}" y="{bottom + 36}" text-anchor="middle">clients</text>']
    if not values:
        body.append(f'<text x="{(left + right) / 2}" y="{(top + bottom) / 2}" '
                    f'text-anchor="middle" fill="#aa0000">not measured</text>')
        return svg("Call latency by client count", width, height, "\n".join(body))
    low, high = math.floor(math.log10(min(values))), math.ceil(math.log10(max(values)))
    high = max(high, low + 1)
    y_of = lambda v: bottom - (math.log10(v) - low) / (high - low) * (bottom - top)  # noqa: E731
    x_of = lambda i: left + 40 + i * (right - left - 80) / (len(CLIENT_COUNTS) - 1)  # noqa: E731
    for power in range(low, high + 1):
        y = y_of(10 ** power)
        body.append(f'<line x1="{left}" y1="{y:.1f}" x2="{right}" y2="{y:.1f}" stroke="#eeeeee"/>'
                    f'<text x="{left - 8}" y="{y + 4:.1f}" text-anchor="end">{10 ** power:g}</text>')
    for i, n in enumerate(CLIENT_COUNTS):
        body.append(f'<text x="{x_of(i):.1f}" y="{bottom + 18}" text-anchor="middle">{n}</text>')
    colors = {"p50_us": "#1f77b4", "p90_us": "#ff7f0e", "p99_us": "#d62728"}
    for k, (key, points) in enumerate(series.items()):
        shown = [(x_of(i), y_of(v), v) for i, (_, v) in enumerate(points) if v]
        body.append(f'<polyline fill="none" stroke="{colors[key]}" stroke-width="2" points="'
                    + " ".join(f"{x:.1f},{y:.1f}" for x, y, _ in shown) + '"/>')
        body += [f'<circle cx="{x:.1f}" cy="{y:.1f}" r="4" fill="{colors[key]}">'
                 f'<title>{key[:3]} {v:,.0f} µs</title></circle>' for x, y, v in shown]
        body.append(f'<rect x="{left + 10 + k * 90}" y="{top}" width="12" height="12" '
                    f'fill="{colors[key]}"/><text x="{left + 28 + k * 90}" y="{top + 10}">'
                    f'{key[:3]}</text>')
    return svg("Call latency by client count (GetCheckSum, one port)", width, height,
               "\n".join(body))


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    runs, context = load(argv[1])
    out = Path(argv[2])
    out.mkdir(parents=True, exist_ok=True)
    table = Table()
    detail = receipt_rows(runs, table)
    other_rows(runs, table)
    machine = (f"{context.get('host_name', '?')}, {context.get('num_cpus', '?')} CPUs at "
               f"{context.get('mhz_per_cpu', '?')} MHz, load "
               f"{', '.join(f'{v:.2f}' for v in context.get('load_avg', [])) or '?'}")
    report = [
        "# VektaManager benchmark report", "",
        f"{datetime.now():%Y-%m-%d %H:%M}, {machine}.", "",
        "Every figure stands beside a limit or a baseline measured in the same run; the ratio is "
        "what to compare between runs, since the machines are shared and noisy. The line time is "
        "every byte both ways at 12 bits a byte at 57600 baud plus the simulator's print time.", "",
        table.markdown(), "", "## Receipts over the line", "", detail, "",
        "![receipts](receipts.svg)", "", "![latency](latency.svg)", "",
        "## Every benchmark", "", every_benchmark(runs), "",
    ]
    (out / "report.md").write_text("\n".join(report))
    (out / "receipts.svg").write_text(receipts_svg(runs))
    (out / "latency.svg").write_text(latency_svg(runs))
    print(out / "report.md")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
