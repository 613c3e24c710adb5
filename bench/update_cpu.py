#!/usr/bin/env python3
"""One update cycle's CPU time: zelhost with the module on Linux next to zelhost.exe with
IO.ALL3000.dll under wine, both against the same all3000-sim.

usage: update_cpu.py LINUX_BUILD WINDOWS_BUILD [--seconds 20]

Each host runs 20 instances of the same box with all eight inputs bound at Interval 0 (an update
every timer tick, once a second), once for 2.5 s and once for `seconds` longer. What the longer
run costs more, divided by how many more updates it started, is one cycle's CPU time, start-up
and shut-down cancelling out; one instance alone would take minutes to rise above their noise.
Under wine the wine server does the socket work, so its CPU time over each run counts too.
Everything runs on 127.0.0.1; run it inside scripts/in-netns.sh.
"""
import json
import os
import subprocess
import sys
import tempfile

import zelbench

SHORT_SECONDS = 2.5
INSTANCES = 20


def cpu_seconds_of(pid):
    """User plus system time a running process has used, from /proc."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def timed_run(cmd, seconds, server_pid):
    """Runs a host for `seconds` to its end: (its CPU seconds, every thread's included; the wine
    server's over the run; the updates started)."""
    server_before = cpu_seconds_of(server_pid) if server_pid else 0.0
    host = subprocess.Popen(cmd + ["--seconds", str(seconds)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = host.stdout.read()
    _, status, usage = os.wait4(host.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{cmd[0]} ended with status {status}")
    server = cpu_seconds_of(server_pid) - server_before if server_pid else 0.0
    updates = sum(1 for line in out.splitlines() if line.strip() and json.loads(line).get("text") == "Updating...")
    return usage.ru_utime + usage.ru_stime, server, updates


def per_cycle(name, cmd, seconds, server_pid=None):
    """Prints and returns one cycle's CPU milliseconds for the host started by `cmd`."""
    short = timed_run(cmd, SHORT_SECONDS, server_pid)
    long = timed_run(cmd, SHORT_SECONDS + seconds, server_pid)
    updates = long[2] - short[2]
    host_ms = (long[0] - short[0]) * 1000 / updates
    server_ms = (long[1] - short[1]) * 1000 / updates
    extra = f" + wine server {server_ms:.2f} ms" if server_pid else ""
    print(f"{name}: {updates} more update cycles; per cycle: host {host_ms:.2f} ms{extra}"
          f" = {host_ms + server_ms:.2f} ms CPU")
    return host_ms + server_ms


def host_command(program, module, store):
    ids = ",".join(str(i) for i in range(1, INSTANCES + 1))
    return [program, "run", "--module", module, "--store", store, "--instance", ids, "--jsonl"]


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    linux, windows = sys.argv[1], os.path.abspath(sys.argv[2])
    seconds = float(sys.argv[sys.argv.index("--seconds") + 1]) if "--seconds" in sys.argv else 20
    prefix = os.path.join(windows, "wineprefix")
    wine_run = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "wine-run.sh")
    os.environ.update(WINEPREFIX=prefix, WINEDEBUG="-all")
    with tempfile.TemporaryDirectory() as work, zelbench.simulator(linux) as address:
        store = os.path.join(work, "store.xml")
        zelbench.write_store(store, {i: zelbench.box_settings(address, 0, i) for i in range(1, INSTANCES + 1)})
        linux_ms = per_cycle("Linux", host_command(zelbench.program(linux, "zelhost"),
                                                   zelbench.program(linux, "IO.ALL3000.so"), store), seconds)
        # A wine server of our own, in this namespace and in the foreground, so its pid is known.
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"])
        server = subprocess.Popen(["wineserver", "-f", "-p60"])
        try:
            # The first program starts wine's services; it is not measured.
            subprocess.run([wine_run, prefix, "cmd", "/c", "exit"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            wine_ms = per_cycle("Windows under wine", [wine_run, prefix] + host_command(
                os.path.join(windows, "zelhost.exe"), os.path.join(windows, "IO.ALL3000.dll"), store),
                seconds, server.pid)
        finally:
            subprocess.run(["wineserver", "-k"])
            server.wait()
    print(f"under wine one cycle costs {wine_ms / linux_ms:.1f} times the CPU time it costs on Linux")
    return 0


if __name__ == "__main__":
    sys.exit(main())
