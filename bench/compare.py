#!/usr/bin/env python3
"""Runs the XML benchmark and prints our figures next to pugixml's.

usage: compare.py path/to/xml_bench [extra benchmark arguments...]

Each case is registered as "<case>/ours" and "<case>/pugixml" (with a size argument appended for
the sized cases). Every case runs several times and the median is reported, since single runs on a
shared machine scatter by more than the differences we look for.
"""
import json
import subprocess
import sys

REPETITIONS = 5
UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def run(binary, extra):
    cmd = [binary, "--benchmark_format=json",
           f"--benchmark_repetitions={REPETITIONS}",
           "--benchmark_report_aggregates_only=true"] + extra
    out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True).stdout
    return json.loads(out)["benchmarks"]


def split_name(name):
    """'load/ours/1048576' -> ('load 1048576', 'ours')."""
    parts = name.split("/")
    return " ".join([parts[0]] + parts[2:]), parts[1]


def pick(entries):
    """Median entries when repetitions were made, otherwise the plain runs, keyed by run name."""
    medians = [e for e in entries if e.get("aggregate_name") == "median"]
    chosen = medians or [e for e in entries if e.get("run_type", "iteration") == "iteration"]
    result = {}
    for e in chosen:
        name = e.get("run_name", e["name"])
        result[name] = {
            "ns": e["cpu_time"] * UNIT_NS[e.get("time_unit", "ns")],
            "bps": e.get("bytes_per_second"),
        }
    return result


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


def label(case):
    parts = case.split(" ")
    return " ".join([parts[0]] + [fmt_size(p) for p in parts[1:]])


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    runs = pick(run(sys.argv[1], sys.argv[2:]))

    cases = {}
    for name, figures in runs.items():
        case, impl = split_name(name)
        cases.setdefault(case, {})[impl] = figures

    rows = [("case", "ours", "pugixml", "ratio", "ours MB/s", "pugixml MB/s")]
    for case, impls in cases.items():
        ours, theirs = impls.get("ours"), impls.get("pugixml")
        if not ours or not theirs:
            continue
        mbs = lambda f: f"{f['bps'] / 1e6:.0f}" if f.get("bps") else "-"
        rows.append((label(case), fmt_time(ours["ns"]), fmt_time(theirs["ns"]),
                     f"{ours['ns'] / theirs['ns']:.2f}", mbs(ours), mbs(theirs)))
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    for i, r in enumerate(rows):
        print("  ".join(c.ljust(w) if j == 0 else c.rjust(w) for j, (c, w) in enumerate(zip(r, widths))))
        if i == 0:
            print("  ".join("-" * w for w in widths))
    print(f"\nratio = our time / pugixml's time (median of {REPETITIONS} runs, CPU time); "
          "MB/s = 10^6 bytes of document per second")

    # Linear scaling: the time per byte of our load should not grow with the input.
    loads = sorted((int(c.split(" ")[1]), i["ours"]) for c, i in cases.items()
                   if c.startswith("load ") and "ours" in i)
    if len(loads) >= 2:
        (small, fs), (large, fl) = loads[0], loads[-1]
        growth = (fl["ns"] / large) / (fs["ns"] / small)
        print(f"scaling: time per byte at {fmt_size(large)} is {growth:.2f}x that at {fmt_size(small)} "
              "(1.00 = linear)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
