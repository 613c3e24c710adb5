#!/usr/bin/env python3
"""Runs the XML benchmark and prints our figures next to pugixml's, then the hostile shapes.

usage: compare.py path/to/xml_bench [extra benchmark arguments...]

Each compared case is registered as "<case>/ours" and "<case>/pugixml" (a size argument may follow).
All cases run REPETITIONS times, interleaved at random, so that both sides of a pair meet the same
machine: the ratio is taken within each round and its median reported with the spread of the rounds.
The hostile shapes ("hostile/<shape>/<n>") are ours only, at two sizes; their row shows how the
time per byte grows from the smaller to the larger.
"""
import json
import statistics
import subprocess
import sys

REPETITIONS = 9
UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def run(binary, extra):
    cmd = [binary, "--benchmark_format=json", f"--benchmark_repetitions={REPETITIONS}",
           "--benchmark_enable_random_interleaving=true"] + extra
    out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True).stdout
    rounds = {}
    for e in json.loads(out)["benchmarks"]:
        if e.get("run_type", "iteration") != "iteration":
            continue
        runs = rounds.setdefault(e.get("run_name", e["name"]), {"ns": [], "bytes": e.get("doc_bytes")})
        runs["ns"].append(e["cpu_time"] * UNIT_NS[e.get("time_unit", "ns")])
    return rounds


def quartiles(values):
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], statistics.median(values), q[2]


def fmt_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.2f} {unit}"
    return f"{ns:.0f} ns"


def fmt_size(arg):
    n = int(arg)
    if n % (1 << 20) == 0:
        return f"{n >> 20} MB"
    if n % (1 << 10) == 0:
        return f"{n >> 10} KB"
    return f"{n} B"


def spread(values):
    """Half the interquartile range, relative to the median."""
    q1, med, q3 = quartiles(values)
    return f"±{50 * (q3 - q1) / med:.0f}%"


def table(rows):
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    for i, r in enumerate(rows):
        print("  ".join(c.ljust(w) if j == 0 else c.rjust(w) for j, (c, w) in enumerate(zip(r, widths))))
        if i == 0:
            print("  ".join("-" * w for w in widths))


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    rounds = run(sys.argv[1], sys.argv[2:])

    pairs, hostile = {}, {}
    for name, figures in rounds.items():
        parts = name.split("/")
        if parts[0] == "hostile":
            hostile.setdefault(parts[1], []).append((int(parts[2]), figures))
        else:
            case = " ".join([parts[0]] + [fmt_size(p) for p in parts[2:]])
            pairs.setdefault(case, {})[parts[1]] = figures

    rows = [("case", "ours", "pugixml", "ratio", "ratio q1-q3", "ours MB/s", "pugixml MB/s")]
    loads = []
    for case, impls in pairs.items():
        ours, theirs = impls.get("ours"), impls.get("pugixml")
        if not ours or not theirs:
            continue
        ratios = [a / b for a, b in zip(ours["ns"], theirs["ns"])]
        q1, ratio, q3 = quartiles(ratios)
        mo, mt = statistics.median(ours["ns"]), statistics.median(theirs["ns"])
        mbs = lambda f, m: f"{f['bytes'] / m * 1e3:.0f}" if f.get("bytes") else "-"
        rows.append((case, f"{fmt_time(mo)} {spread(ours['ns'])}", f"{fmt_time(mt)} {spread(theirs['ns'])}",
                     f"{ratio:.2f}", f"{q1:.2f}-{q3:.2f}", mbs(ours, mo), mbs(theirs, mt)))
        if case.startswith("load "):
            size = int(case.split(" ")[1]) << (20 if case.endswith("MB") else 10)
            loads.append((size, mo))
    table(rows)
    print(f"\nours, pugixml: median CPU time of {REPETITIONS} interleaved rounds, ± half the interquartile "
          "range; ratio: median of the per-round ratios (ours / pugixml's); MB/s: 10^6 bytes per second")

    loads.sort()
    if len(loads) >= 2:
        (small, ts), (large, tl) = loads[0], loads[-1]
        print(f"scaling: time per byte at {fmt_size(large)} is {(tl / large) / (ts / small):.2f}x that at "
              f"{fmt_size(small)} (1.00 = linear)")

    if hostile:
        print()
        rows = [("hostile shape (ours)", "n", "time", "4n", "time", "per-byte growth")]
        for shape, runs in hostile.items():
            runs.sort(key=lambda r: r[0])
            (n1, f1), (n2, f2) = runs[0], runs[-1]
            t1, t2 = statistics.median(f1["ns"]), statistics.median(f2["ns"])
            growth = (t2 / f2["bytes"]) / (t1 / f1["bytes"])
            rows.append((shape, str(n1), fmt_time(t1), str(n2), fmt_time(t2), f"{growth:.2f}x"))
        table(rows)
        print("\nper-byte growth: time per document byte at the larger size over that at the smaller "
              "(1.00 = linear, 4.00 = quadratic)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
