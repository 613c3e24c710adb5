#!/usr/bin/env python3
"""Whether hostile boxes hold up the good ones: one zelhost, good and hostile instances side by side.

usage: many_boxes.py BUILD_DIR [--good 250] [--hostile 250] [--seconds 60] [--interval 5]

The good instances poll one normal all3000-sim; the hostile ones are spread evenly over four
simulators in the modes hang (never answers), slow (one byte a second), reset (resets the
connection) and cut (announces the whole document, sends part of it and closes). Every input of
every instance is bound to a variable named after its instance.

Interval 5: shorter than what a hostile box holds an update for (hang until the 5 s read time-out,
slow until the 15 s limit on the whole exchange), so an update cycle in which one instance's fetch
holds the others shows as missed updates; and light for the good ones (250 instances at 5 s is the
fetch rate that host_scale.py finds kept on time at Interval 10 with 500), with about eleven updates
per instance in a minute.

The host runs at kernel state 0: instances then skip the connection test when they are created,
which runs on the host's main thread, one box after the other, and would wait two seconds for each
box that never answers and ten for each that answers a byte a second (over ten minutes for 250
hostile boxes) before the first update. The timer and the updates are the same at any kernel state.

Reported for the good instances: how many wrote on time (the first write of every update within
Interval + 1 s of the one before, the first within Interval + 1 s of the instance's creation, and
the last within Interval + 1 s of the end of the measured time; see SLACK), the largest gap,
and the median and minimum number of updates, all within the measured time, which starts when the
last instance exists; for the hostile ones, per mode and over the whole run, how many wrote a
variable at all (none should) and how many updates they started. Each JSON line is stamped when it
is read, as zelhost's lines carry no time.
Everything runs on 127.0.0.1; run it inside scripts/in-netns.sh.
"""
import argparse
import os
import statistics
import sys
import tempfile

import zelbench

HOSTILE_MODES = ["hang", "slow", "reset", "cut"]
# Updates start every Interval seconds on a tick of the instance's one-second timer (up to half a
# tick early or late), so a gap between two writes stays within Interval + 1 s.
SLACK = 1


def parse_args(argv):
    p = argparse.ArgumentParser(description="one zelhost with good and hostile boxes")
    p.add_argument("build")
    p.add_argument("--good", type=int, default=250)
    p.add_argument("--hostile", type=int, default=250)
    p.add_argument("--seconds", type=int, default=60)
    p.add_argument("--interval", type=int, default=5)
    return p.parse_args(argv)


class Instance:
    """What one instance did: when it was created, and the time of its first write of each update."""

    def __init__(self):
        self.created = None
        self.updating = False
        self.started = 0
        self.writes = []
        self.variables = 0


def observe(events, instances):
    """Follows the host's events into `instances`; returns when the last of them was created."""
    last_created = None
    for now, e in events:
        kind = e.get("event")
        if kind == "variable":
            inst = instances[zelbench.instance_of(e["name"])]
            inst.variables += 1
            # An update writes all its inputs at once; its first write is its time.
            if inst.updating:
                inst.writes.append(now)
                inst.updating = False
        elif kind == "debug" and e.get("text") == "Updating...":
            inst = instances[e["instance"]]
            inst.updating = True
            inst.started += 1
        elif kind == "log" and e.get("text") == "Interface Create":
            instance = int(e["sender"].rsplit("#", 1)[1])
            instances[instance].created = now
            last_created = now if last_created is None else max(last_created, now)
    return last_created


def late_gap(inst, end):
    """The largest wait of `inst` for a write up to `end`: from its creation to its first update,
    between updates, and from its last update to `end`."""
    marks = [inst.created] + [t for t in inst.writes if t <= end] + [end]
    return max(b - a for a, b in zip(marks, marks[1:]))


def report(args, instances, good, hostile, modes, last_created):
    end = last_created + args.seconds
    gaps = {i: late_gap(instances[i], end) for i in good}
    on_time = sum(1 for g in gaps.values() if g <= args.interval + SLACK)
    counts = [len([t for t in instances[i].writes if t <= end]) for i in good]
    print(f"many boxes: {len(good)} good and {len(hostile)} hostile instances at Interval {args.interval} "
          f"for {args.seconds} s")
    print(f"  good: {on_time} of {len(good)} on time (every wait for a write within Interval + {SLACK:g} s)")
    print(f"  good: largest gap {max(gaps.values()):.1f} s, median of each instance's largest "
          f"{statistics.median(gaps.values()):.1f} s")
    print(f"  good: updates per instance median {statistics.median(counts):g}, minimum {min(counts)}, "
          f"maximum {max(counts)}")
    for mode in HOSTILE_MODES:
        ids = [i for i in hostile if modes[i] == mode]
        wrote = [i for i in ids if instances[i].variables]
        writes = sum(instances[i].variables for i in ids)
        started = sum(instances[i].started for i in ids)
        print(f"  hostile {mode}: {len(wrote)} of {len(ids)} instances wrote variables ({writes} writes in "
              f"{started} updates started)")


def main():
    args = parse_args(sys.argv[1:])
    if args.good < 1 or args.hostile < 0 or args.seconds < 1 or args.interval < 1:
        print("many_boxes.py: --good, --seconds and --interval must be at least 1, --hostile at least 0",
              file=sys.stderr)
        return 2
    zelbench.raise_descriptor_limit()
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    good = list(range(1, args.good + 1))
    hostile = list(range(args.good + 1, args.good + args.hostile + 1))
    modes = {i: HOSTILE_MODES[k % len(HOSTILE_MODES)] for k, i in enumerate(hostile)}
    with tempfile.TemporaryDirectory() as work, \
            zelbench.simulator(args.build) as normal, \
            zelbench.simulator(args.build, "--mode", "hang") as hang, \
            zelbench.simulator(args.build, "--mode", "slow") as slow, \
            zelbench.simulator(args.build, "--mode", "reset") as reset, \
            zelbench.simulator(args.build, "--mode", "cut") as cut:
        os.environ.setdefault("XDG_RUNTIME_DIR", work)
        boxes = {"hang": hang, "slow": slow, "reset": reset, "cut": cut}
        settings = {i: zelbench.box_settings(normal, args.interval, i) for i in good}
        settings.update({i: zelbench.box_settings(boxes[modes[i]], args.interval, i) for i in hostile})
        store = os.path.join(work, "store.xml")
        zelbench.write_store(store, settings)
        instances = {i: Instance() for i in good + hostile}
        # Time for the instances to be created and the last update to start, after the measured time.
        run_seconds = args.seconds + args.interval + 10
        last_created = observe(zelbench.run_host(args.build, store, good + hostile, run_seconds,
                                                 "--kernel-state", "0"), instances)
    if last_created is None or any(instances[i].created is None for i in good + hostile):
        print("many boxes: the host did not create every instance", file=sys.stderr)
        return 1
    report(args, instances, good, hostile, modes, last_created)
    return 0


if __name__ == "__main__":
    sys.exit(main())
