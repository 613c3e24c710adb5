"""What the host benchmarks share: the settings store, the simulated boxes and a timed zelhost run.

Everything here talks to 127.0.0.1 only; the scripts that use it run inside scripts/in-netns.sh.
"""
import contextlib
import json
import os
import re
import getpass
import resource
import shutil
import socket
import subprocess
import tempfile
import threading
import time

# Sensor types of the box's default inputs, in input order, with a short name for their variables.
DEFAULT_INPUTS = [("T", 1), ("P", 2), ("M", 3), ("W", 4), ("A", 5), ("C", 6), ("T", 1), ("D", 4)]

# The store is written without zelhost, so only values that need no escaping are taken.
_PLAIN_VALUE = re.compile(r"[A-Za-z0-9_.:-]*")


def program(build, name):
    """The path of one of the build's programs (zelhost, all3000-sim, IO.ALL3000.so)."""
    return os.path.join(build, name)


def raise_descriptor_limit():
    """Raises this process's soft descriptor limit to the hard one; the programs it starts inherit it."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft != hard:
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


def box_settings(address, interval, instance, inputs=DEFAULT_INPUTS):
    """One instance's settings: the box, the interval and every input bound to a variable whose name
    ends in _INSTANCE, so that a variable event tells which instance wrote it."""
    values = {"Settings/IPAddress": address, "Settings/Interval": str(interval)}
    for s, (name, kind) in enumerate(inputs):
        values[f"Settings/S{s}/VarName"] = f"{name}{s}_{instance}"
        values[f"Settings/S{s}/DeviceType"] = str(kind)
    return values


def instance_of(variable):
    """The instance a variable named by box_settings belongs to."""
    return int(variable.rsplit("_", 1)[1])


def write_store(path, instances):
    """Writes a settings store as `zelhost set` leaves it, for {id: {"Section/.../Key": value}}: one
    `set` per instance takes minutes for hundreds of instances, this a moment."""
    lines = ['<?xml version="1.0" encoding="ISO8859-1" ?>', "  <SettingsStore>"]
    for instance, values in instances.items():
        tree = {}
        for key, value in values.items():
            if not _PLAIN_VALUE.fullmatch(value):
                raise ValueError(f"{key}={value!r}: only plain names, numbers and addresses are written here")
            *sections, name = key.split("/")
            node = tree
            for section in sections:
                node = node.setdefault(section, {})
            node[name] = value
        lines.append(f'    <Instance ID="{instance}">')
        _write_sections(lines, tree, 3)
        lines.append("    </Instance>")
    lines.append("  </SettingsStore>")
    with open(path, "w", newline="") as f:
        f.write("".join(line + "\r\n" for line in lines))


def _write_sections(lines, tree, depth):
    """Appends `tree` (sections as dicts, keys as strings) at `depth`, two blanks a level."""
    indent = "  " * depth
    for name, node in tree.items():
        if isinstance(node, dict):
            lines.append(f"{indent}<{name}>")
            _write_sections(lines, node, depth + 1)
            lines.append(f"{indent}</{name}>")
        else:
            lines.append(f'{indent}<{name} value="{node}"/>')


@contextlib.contextmanager
def simulator(build, *args):
    """A running all3000-sim with `args`, yielding its "127.0.0.1:PORT"; stopped on leaving."""
    # Its request log goes nowhere: a pipe nobody reads would fill and stall the box.
    sim = subprocess.Popen([program(build, "all3000-sim"), "--port", "0", *args], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True)
    try:
        found = re.search(r"127\.0\.0\.1:\d+", sim.stdout.readline())
        if not found:
            raise RuntimeError(f"all3000-sim {' '.join(args)} did not say where it listens")
        yield found.group(0)
    finally:
        sim.terminate()
        sim.wait()


@contextlib.contextmanager
def broker():
    """A running MQTT broker (Debian's mosquitto) on a free port of 127.0.0.1 with a private config,
    yielding (port, pid); stopped on leaving."""
    binary = "/usr/sbin/mosquitto" if os.access("/usr/sbin/mosquitto", os.X_OK) else shutil.which("mosquitto")
    if not binary:
        raise RuntimeError("no mosquitto: run scripts/setup-deps.sh")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    with tempfile.TemporaryDirectory() as work:
        config = os.path.join(work, "mosquitto.conf")
        with open(config, "w") as f:
            # Started as root, the broker would switch to another user: it stays ours.
            f.write(f"user {getpass.getuser()}\nlistener {port} 127.0.0.1\nallow_anonymous true\n"
                    "persistence false\nlog_dest none\n")
        process = subprocess.Popen([binary, "-c", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for _ in range(100):
                with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), timeout=1):
                    break
                if process.poll() is not None:
                    raise RuntimeError("the MQTT broker did not start")
                time.sleep(0.05)
            yield port, process.pid
        finally:
            process.terminate()
            process.wait()


def cpu_seconds(pid):
    """The CPU time (user + system, every thread) process `pid` has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def run_host(build, store, ids, seconds, *extra, grace=120, on_start=None):
    """Runs zelhost with `ids` for `seconds` and yields (seconds since its start, event) for every
    JSON line as it arrives: zelhost's lines carry no time, and it flushes each one. A host still
    running `grace` seconds after its run should have ended is killed. `on_start` is called with
    the host's pid once it runs."""
    cmd = [program(build, "zelhost"), "run", "--module", program(build, "IO.ALL3000.so"), "--store", store,
           "--instance", ",".join(str(i) for i in ids), "--seconds", str(seconds), "--jsonl", *extra]
    start = time.monotonic()
    host = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if on_start:
        on_start(host.pid)
    # A host that never ends would keep its output open, and the loop below waiting for ever.
    watchdog = threading.Timer(seconds + grace, host.kill)
    watchdog.start()
    try:
        # readline on the buffered pipe returns each line once it is there, without waiting for more.
        for line in iter(host.stdout.readline, b""):
            yield time.monotonic() - start, json.loads(line)
        host.wait()
    finally:
        watchdog.cancel()
        if host.poll() is None:
            host.kill()
            host.wait()
