#!/usr/bin/env python3
"""bench/isolated bench/client_faults.py BEFORE AFTER [RUNS]: two build folders side by side.

- The lines a client that never reads is sent before the helper drops it, with the client's
  default buffers (the test build with a 2 ms cycle, PelagrinHelperSoak, and a reading client that
  counts the cycles).
- A flood of connections (four at a time, then 1 ms, as fast as the backlog of four takes them)
  against the shipped helper with one reading client and a /dev/log that is read at once: the
  system-log entries during a 4 s flood and within 12 s of its start, and the helper's CPU time
  (user + system) over a 5 s flood.

Each figure is the median of RUNS runs (default 3), the builds taking turns."""
import os, select, socket, statistics, subprocess, sys, tempfile, threading, time
from dataclasses import dataclass

PORT = 27830
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def lines_before_a_stuck_client_is_dropped(build):
    with tempfile.TemporaryFile("w+b") as log:
        env = {**os.environ, "PELAGRIN_FAKE_COUNTER": "1"}
        helper = subprocess.Popen([f"{build}/tests/PelagrinHelperSoak"], stderr=log, env=env)
        time.sleep(0.3)
        stuck = socket.create_connection(("127.0.0.1", PORT))
        reader = socket.create_connection(("127.0.0.1", PORT))
        lines = 0
        while b"Client disconnected" not in os.pread(log.fileno(), 1 << 24, 0):
            if select.select([reader], [], [], 0.01)[0]:
                lines += reader.recv(1 << 20).count(b"\n")
        helper.kill()
        helper.wait()
        stuck.close()
        return lines


@dataclass
class Flood:
    connections: int
    entries_during: int
    entries_within_12_s: int
    cpu_seconds: float


def flood(build, seconds):
    folder = tempfile.mkdtemp()
    syslog = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    syslog.bind(f"{folder}/log")
    syslog.settimeout(0.2)
    arrivals = []
    done = threading.Event()

    def read_log():
        while not done.is_set():
            try:
                syslog.recv(4096)
                arrivals.append(time.monotonic())
            except TimeoutError:
                pass

    reading = threading.Thread(target=read_log)
    reading.start()
    as_dev_log = 'mount -t tmpfs tmpfs /dev && ln -s "$0" /dev/log && exec "$1"'
    command = [
        "unshare",
        "--mount",
        "sh",
        "-c",
        as_dev_log,
        f"{folder}/log",
        f"{build}/helper/PelagrinHelper",
    ]
    helper = subprocess.Popen(command, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    reader = socket.create_connection(("127.0.0.1", PORT))
    time.sleep(2.5)
    began, cpu = time.monotonic(), cpu_seconds(helper.pid)
    connections = 0
    while time.monotonic() < began + seconds:
        for _ in range(4):
            with socket.socket() as newcomer:
                newcomer.settimeout(3)
                connections += newcomer.connect_ex(("127.0.0.1", PORT)) == 0
        time.sleep(0.001)
    cpu = cpu_seconds(helper.pid) - cpu
    ended = time.monotonic()
    time.sleep(max(0.0, began + 12 - time.monotonic()))
    done.set()
    reading.join()
    helper.kill()
    helper.wait()
    reader.close()
    during = sum(began <= at <= ended + 0.2 for at in arrivals)
    return Flood(connections, during, sum(began <= at for at in arrivals), cpu)


def main():
    builds = sys.argv[1:3]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    stuck = {build: [] for build in builds}
    floods = {build: [] for build in builds}
    for _ in range(runs):
        for build in builds:
            stuck[build].append(lines_before_a_stuck_client_is_dropped(build))
            floods[build].append((flood(build, 4), flood(build, 5)))
    for build in builds:
        four = [pair[0] for pair in floods[build]]
        five = [pair[1] for pair in floods[build]]
        print(f"{build}:")
        print(
            f"  lines to a stuck client before its drop: {stuck[build]}, median {statistics.median(stuck[build])}"
        )
        print(f"  4 s flood: connections {[f.connections for f in four]}")
        print(
            f"    log entries during it: median {statistics.median(f.entries_during for f in four)}"
        )
        print(
            f"    log entries within 12 s of its start: median {statistics.median(f.entries_within_12_s for f in four)}"
        )
        print(
            f"  5 s flood: connections {[f.connections for f in five]}, CPU {[f.cpu_seconds for f in five]}"
        )
        print(f"    CPU: median {statistics.median(f.cpu_seconds for f in five):.2f} s, ", end="")
        print(
            f"{statistics.median(f.cpu_seconds / f.connections * 1e6 for f in five):.0f} us a connection"
        )


main()
