#!/usr/bin/env python3
"""What the MQTT bridge costs zelhost: CPU per update with and without --mqtt, in one run.

usage: mqtt_cpu.py BUILD_DIR [--instances 500] [--seconds 60] [--rounds 2]

One all3000-sim and one local broker serve every run. Each round runs zelhost twice, without and
with `--mqtt` (and discovery), N instances at Interval 10 with all eight inputs bound. A run's CPU
(user + system of every thread of zelhost, the bridge's own thread included) is taken 5 s after
the last instance exists and `seconds` later, and divided by the updates in between, so start-up
and shut-down drop out. An instance is on time when every gap between its updates in that window
stays within Interval + 2 s. The runs with the bridge also count what a subscriber to zelhost/#
receives, as proof that the messages flow; the broker's own CPU is shown beside, not counted.
Everything runs on 127.0.0.1; run it inside scripts/in-netns.sh.
"""
import os
import subprocess
import sys
import tempfile
import threading

import zelbench

INTERVAL = 10
SETTLE = 5  # seconds after the last instance exists before the window opens
GOAL = 1.2


def measure(build, store, count, seconds, extra, broker_pid=None):
    """One run: (CPU ms per update, instances on time, broker CPU seconds in the window)."""
    pid = []
    created = None
    marks = {}  # "open"/"close" -> (time, zelhost CPU, broker CPU)
    updates = {i: [] for i in range(1, count + 1)}
    # Long enough for a slow start; the run is ended as soon as the window closes.
    for now, e in zelbench.run_host(build, store, range(1, count + 1), SETTLE + seconds + 300, *extra,
                                    on_start=pid.append):
        if e.get("event") == "log" and e.get("text") == "Interface Create" and e.get("sender") == f"ALL3000 #{count}":
            created = now
        if e.get("event") == "debug" and e.get("text") == "Updating...":
            updates[e["instance"]].append(now)
        # Sampled at the first event past each mark: hundreds of instances leave no long silence.
        for name, at in (("open", SETTLE), ("close", SETTLE + seconds)):
            if created is not None and name not in marks and now >= created + at:
                marks[name] = (now, zelbench.cpu_seconds(pid[0]),
                               zelbench.cpu_seconds(broker_pid) if broker_pid else 0.0)
        if "close" in marks:
            break  # leaving the loop ends the host
    if len(marks) < 2:
        raise RuntimeError("the host did not start every instance, or ended early")
    (t0, cpu0, b0), (t1, cpu1, b1) = marks["open"], marks["close"]
    inside = sum(1 for times in updates.values() for t in times if t0 <= t < t1)
    on_time = 0
    for times in updates.values():
        window = [t for t in times if t0 <= t <= t1]
        points = [t0] + window + [t1]
        if window and max(b - a for a, b in zip(points, points[1:])) <= INTERVAL + 2:
            on_time += 1
    return (cpu1 - cpu0) * 1000 / max(inside, 1), on_time, b1 - b0


def count_messages(port, counter, stop):
    """Counts the messages a subscriber to zelhost/# receives until `stop` is set."""
    sub = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-t", "zelhost/#", "-F", "%t"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    stopper = threading.Thread(target=lambda: (stop.wait(), sub.terminate()), daemon=True)
    stopper.start()
    for _ in sub.stdout:  # one line, the topic, per message
        counter[0] += 1
    sub.wait()


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    build = sys.argv[1]
    options = {"--instances": 500, "--seconds": 60, "--rounds": 2}
    args = sys.argv[2:]
    for i, a in enumerate(args):
        if a in options:
            options[a] = int(args[i + 1])
    count, seconds = options["--instances"], options["--seconds"]
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    zelbench.raise_descriptor_limit()
    results = {"without": [], "with": []}
    delivered = [0]
    broker_cpu = 0.0
    with tempfile.TemporaryDirectory() as work:
        os.environ.setdefault("XDG_RUNTIME_DIR", work)
        store = os.path.join(work, "store.xml")
        with zelbench.simulator(build) as address, zelbench.broker() as (port, broker_pid):
            zelbench.write_store(store, {i: zelbench.box_settings(address, INTERVAL, i) for i in range(1, count + 1)})
            mqtt = ["--mqtt", f"mqtt://127.0.0.1:{port}", "--mqtt-discovery"]
            for _ in range(options["--rounds"]):
                results["without"].append(measure(build, store, count, seconds, []))
                stop = threading.Event()
                counter = threading.Thread(target=count_messages, args=(port, delivered, stop))
                counter.start()
                result = measure(build, store, count, seconds, mqtt, broker_pid)
                stop.set()
                counter.join()
                results["with"].append(result)
                broker_cpu += result[2]
    per = {mode: sum(r[0] for r in runs) / len(runs) for mode, runs in results.items()}
    on_time = {mode: min(r[1] for r in runs) for mode, runs in results.items()}
    ratio = per["with"] / per["without"]
    print(f"per update ({count} instances at Interval {INTERVAL}, {options['--rounds']} rounds of {seconds} s): "
          f"without {per['without']:.3f} ms, with MQTT {per['with']:.3f} ms, ratio {ratio:.2f} (goal <= {GOAL}); "
          f"on time {on_time['without']}/{count} and {on_time['with']}/{count}; delivered {delivered[0]} messages; "
          f"the broker's own CPU {broker_cpu:.1f} s (not counted)")
    return 0 if ratio <= GOAL and on_time["with"] == count else 1


if __name__ == "__main__":
    sys.exit(main())
