"""Long runs: clients coming and going beside steady readers for as many cycles
as PELAGRIN_SOAK_CYCLES asks, and the shipped helper under memcheck."""
import os
import random
import re
import shutil
import signal
import subprocess
import sys

import pytest

from conftest import PORT, Client, consecutive, linux_only, until

CYCLES = int(os.environ.get("PELAGRIN_SOAK_CYCLES", "500"))
CONNECTED = re.compile(r"\[Helper\] Client connected \(fd=(\d+), total=(\d+)\)\Z")
DISCONNECTED = re.compile(r"\[Helper\] Client disconnected \(fd=(\d+)\)\Z")
REJECTED = "[Helper] Rejected client \u2014 max connections reached"


def replay(log):
    """Follows the log's account of the table; returns the clients left in it."""
    table = set()
    for message in log[2:]:
        if match := CONNECTED.match(message):
            assert int(match[1]) not in table and int(match[2]) == len(table) + 1, message
            table.add(int(match[1]))
        elif match := DISCONNECTED.match(message):
            table.remove(int(match[1]))
        else:
            assert message == REJECTED and len(table) == 4, message
    return table


def status(pid, field):
    with open(f"/proc/{pid}/status") as lines:
        return next(int(line.split()[1]) for line in lines if line.startswith(field))


class Churn:
    """Beside two steady readers, one change at a time, each seen in the log
    before the next: a client that connects and closes, one that never reads,
    one that sends garbage and keeps reading, one in a process that is killed;
    and now and then a fifth client while the table is full."""

    def __init__(self, helper):
        self.helper, self.random, self.clients, self.attempts = helper, random.Random(6), [], 2

    def step(self, cycle):
        for entry in [entry for entry in self.clients if entry[2] <= cycle]:
            self.end(entry)
        if len(self.clients) < 2:
            self.open(self.random.choice(("closer", "silent", "garbage", "killed")), cycle)
        elif cycle % 10 == 0:
            self.attempts += 1
            assert Client().closed_without_data(), "a fifth client was not turned away"
            self.settle()
        for kind, client, _ in self.clients:
            if kind == "garbage":
                client.seen += client.ready_cycles()

    def open(self, kind, cycle):
        self.attempts += 1
        if kind == "killed":
            client = subprocess.Popen([sys.executable, "-c", f"import socket\ns = socket.create_connection(("
                                       f"'127.0.0.1', {PORT}))\nwhile s.recv(4096): pass"])
        else:
            client = Client()
            client.seen = []
            if kind == "garbage":
                client.sock.sendall(os.urandom(self.random.choice((2048, 65536))))
            elif kind == "closer":
                client.close()
        if kind != "closer":
            self.clients.append((kind, client, cycle + self.random.randint(1, 60)))
        self.settle()

    def end(self, entry):
        kind, client, _ = entry
        self.clients.remove(entry)
        if kind == "killed":
            client.kill()
            client.wait()
        else:
            assert consecutive(client.seen), "a reading client missed a cycle"
            client.close()
        self.settle()

    def settle(self):
        def shown():
            log = self.helper.messages()
            return (sum(bool(CONNECTED.match(m)) or m == REJECTED for m in log) == self.attempts
                    and len(replay(log)) == 2 + len(self.clients))
        assert until(shown), "the log never showed the change"


@linux_only
def test_client_churn_leaves_table_memory_and_descriptors_as_they_were(start):
    helper = start(os.environ["SOAK_HELPER"], env={"PELAGRIN_FAKE_COUNTER": "1"})
    steady = [Client(), Client()]
    seen = [client.cycles(1) for client in steady]
    baseline = len(os.listdir(f"/proc/{helper.pid}/fd")) - 2
    churn, settled = Churn(helper), None
    while len(seen[0]) < CYCLES:
        for client, cycles in zip(steady, seen):
            cycles += client.cycles(1) + client.ready_cycles()
        churn.step(len(seen[0]))
        if settled is None and len(seen[0]) >= min(1000, CYCLES // 2):
            settled = status(helper.pid, "VmRSS")
    while churn.clients:
        churn.end(churn.clients[0])
    for client, cycles in zip(steady, seen):
        assert consecutive(cycles), "a steady reader missed or repeated a cycle"
        client.close()
    assert until(lambda: not replay(helper.messages()))
    assert until(lambda: len(os.listdir(f"/proc/{helper.pid}/fd")) == baseline), "descriptors leaked"
    growth = status(helper.pid, "VmRSS") - settled
    print(f"RSS {settled} KiB at the settling cycle, then {growth:+} KiB by cycle {CYCLES}")
    if CYCLES >= 2000 and os.environ.get("SANITIZED") != "1":  # a sanitizer's quarantine grows by design
        assert growth <= 64


@linux_only
@pytest.mark.skipif(not shutil.which("valgrind") or os.environ.get("SANITIZED") == "1", reason="needs valgrind")
def test_shipped_helper_under_memcheck_loses_nothing(start, tmp_path):
    # The desktop fixture shown as /sys and the fake NVML, so that every walk runs.
    (tmp_path / "libnvidia-ml.so.1").symlink_to(os.environ["FAKE_NVML"])
    wrap = ["unshare", "--mount", "sh", "-c", 'mount --bind "$0" /sys && exec "$@"', f"{os.environ['FIXTURES']}/desktop",
            "valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite", f"--log-file={tmp_path}/log"]
    helper = start(os.environ["HELPER"], env={"LD_LIBRARY_PATH": str(tmp_path)}, wrap=wrap)
    clients = [Client(timeout=30) for _ in range(4)]
    assert all(client.line(timeout=15) for client in clients)
    assert Client().closed_without_data(15)
    clients[1].close()
    assert clients[0].line(timeout=15) and clients[0].line(timeout=15)
    os.kill(helper.pid, signal.SIGTERM)
    assert helper.exit_code(60) == -signal.SIGTERM
    report = (tmp_path / "log").read_text()
    assert "definitely lost: 0 bytes" in report or "All heap blocks were freed" in report, report
    assert "ERROR SUMMARY: 0 errors" in report, report
