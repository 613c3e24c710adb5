#!/usr/bin/env python3
"""How zelhost scales with the number of module instances.

usage: host_scale.py BUILD_DIR [--counts 100,200,300,500] [--seconds 60]

1. Memory: the resident size of zelhost with 1 and with 101 idle instances (kernel state 0, so no
   instance touches the network), and the difference per instance.
2. Timeliness: N instances at Interval 10 against one all3000-sim for a minute. An instance is on
   time when every gap between its updates, and the wait for its first one, stays within
   Interval + 2 s (one timer tick and the update itself). Reports, for each N, how many instances
   kept time, and the largest N at which all did.
Everything runs on 127.0.0.1; run it inside scripts/in-netns.sh.
"""
import os
import subprocess
import sys
import tempfile
import time

import zelbench

INTERVAL = 10


# A store of instances 1 to `instances`, each polling `address` with all eight inputs bound.
def make_store(path, instances, address, interval):
    zelbench.write_store(path, {i: zelbench.box_settings(address, interval, i) for i in range(1, instances + 1)})


def resident_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def memory(build, work):
    sizes = {}
    for count in (1, 101):
        store = os.path.join(work, f"mem{count}.xml")
        make_store(store, count, "127.0.0.1", 3600)
        ids = ",".join(str(i) for i in range(1, count + 1))
        p = subprocess.Popen([zelbench.program(build, "zelhost"), "run", "--module",
                              zelbench.program(build, "IO.ALL3000.so"), "--store", store, "--instance", ids,
                              "--seconds", "4", "--kernel-state", "0", "--jsonl"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(3)
        sizes[count] = resident_kb(p.pid)
        p.wait()
    per = (sizes[101] - sizes[1]) / 100
    print(f"memory: zelhost with 1 instance {sizes[1]} KB, with 101 instances {sizes[101]} KB: "
          f"{per:.1f} KB per instance (goal at most 16)")


def timeliness(build, work, count, seconds, sim_address):
    store = os.path.join(work, f"time{count}.xml")
    make_store(store, count, sim_address, INTERVAL)
    updates = {i: [] for i in range(1, count + 1)}
    created = None
    for now, e in zelbench.run_host(build, store, range(1, count + 1), seconds + INTERVAL + 5):
        if e.get("event") == "log" and e.get("text") == "Interface Create" and e.get("sender") == f"ALL3000 #{count}":
            created = now
        if e.get("event") == "debug" and e.get("text") == "Updating...":
            updates[e["instance"]].append(now)
    if created is None:
        print(f"timeliness: {count} instances: the host did not start them all")
        return False
    # The minute measured starts when the last instance exists.
    window = (created, created + seconds)
    late = 0
    for times in updates.values():
        inside = [t for t in times if window[0] <= t <= window[1]]
        marks = [window[0]] + inside + [window[1]]
        gaps = [b - a for a, b in zip(marks, marks[1:])]
        if not inside or max(gaps) > INTERVAL + 2:
            late += 1
    print(f"timeliness: {count} instances at Interval {INTERVAL} for {seconds} s: {count - late} on time, {late} late")
    return late == 0


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    build = sys.argv[1]
    counts = [100, 200, 300, 500]
    seconds = 60
    args = sys.argv[2:]
    for i, a in enumerate(args):
        if a == "--counts":
            counts = [int(x) for x in args[i + 1].split(",")]
        if a == "--seconds":
            seconds = int(args[i + 1])
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    with tempfile.TemporaryDirectory() as work:
        os.environ.setdefault("XDG_RUNTIME_DIR", work)
        memory(build, work)
        with zelbench.simulator(build) as address:
            best = 0
            for count in counts:
                if timeliness(build, work, count, seconds, address):
                    best = count
                else:
                    break
            print(f"timeliness: the largest count that kept time: {best} (goal 500)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
