"""The pieces the process tests share: a helper as a child process with its log
in a file, a telemetry client, and a loopback of its own for every test."""
import ctypes
import os
import re
import select
import socket
import subprocess
import sys
import tempfile
import time

import pytest

LINUX = sys.platform.startswith("linux")
PORT = 27830
LINE = re.compile(r'\{"cpuTemp":(\d+\.\d),"cpuTempAvg":(\d+\.\d),"gpuTemp":(\d+\.\d),"gpuUtil":([01]\.\d{3})\}\n\Z')
linux_only = pytest.mark.skipif(not LINUX, reason="Linux only")


def until(condition, timeout=3.0):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def private_network(tcp_wmem=None):
    """From now on this process and what it starts have a loopback of their own;
    False where the machine allows no network namespace."""
    if not LINUX or ctypes.CDLL(None, use_errno=True).unshare(0x40000000) != 0:  # CLONE_NEWNET
        return False
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    if tcp_wmem:
        with open("/proc/sys/net/ipv4/tcp_wmem", "w") as sysctl:
            sysctl.write(tcp_wmem)
    return True


@pytest.fixture(autouse=True)
def own_loopback():
    private_network()


class Helper:
    def __init__(self, command, env):
        self.log = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stderr=self.log, env={**os.environ, **env})
        self.pid = self.proc.pid

    def stderr(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def messages(self):
        """Each log entry from "[Helper]" on, without the prefix the log adds."""
        return [line[line.index("[Helper]"):] for line in self.stderr().splitlines() if "[Helper]" in line]

    def wait_log(self, text, timeout=3.0):
        return until(lambda: any(text in message for message in self.messages()), timeout)

    def exit_code(self, timeout=3.0):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def fd_of(self, total):
        """The descriptor of the client that the log admitted with this total."""
        return next(int(m.split("fd=")[1].split(",")[0]) for m in self.messages() if f", total={total})" in m)


@pytest.fixture
def start():
    helpers = []

    def start_helper(binary, env=None, wrap=()):
        helpers.append(Helper([*wrap, binary], env or {}))
        return helpers[-1]

    yield start_helper
    for helper in helpers:
        helper.proc.kill()
        helper.proc.wait()


class Client:
    def __init__(self, timeout=3.0, rcvbuf=0, host="127.0.0.1"):
        deadline = time.monotonic() + timeout
        while True:
            self.sock = socket.socket()
            if rcvbuf:
                self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
            try:
                self.sock.connect((host, PORT))
                break
            except ConnectionRefusedError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.02)
        self.buffer = b""

    def line(self, timeout=2.0):
        """The next whole line, or None when none comes in time or the helper hung up."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                return None
            try:
                data = self.sock.recv(65536)
            except ConnectionResetError:
                data = b""
            if not data:
                return None
            self.buffer += data
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line.decode() + "\n"

    def cycles(self, count, timeout=2.0):
        """The cycle numbers that the counting fake sensors put in the next lines."""
        numbers = []
        for _ in range(count):
            line = self.line(timeout)
            assert line and LINE.match(line), f"after cycles {numbers[-3:]}: {line!r}"
            numbers.append(round(float(LINE.match(line).group(4)) * 1000))
        return numbers

    def ready_cycles(self):
        """The cycle numbers of every whole line that has arrived, without waiting for more."""
        while select.select([self.sock], [], [], 0)[0] and (data := self.sock.recv(65536)):
            self.buffer += data
        return self.cycles(self.buffer.count(b"\n"))

    def closed_without_data(self, timeout=2.0):
        if not select.select([self.sock], [], [], timeout)[0]:
            return False
        try:
            return self.sock.recv(1) == b""
        except ConnectionResetError:
            return True

    def close(self):
        self.sock.close()


def consecutive(cycles):
    return all((later - earlier) % 1000 == 1 for earlier, later in zip(cycles, cycles[1:]))


def thread_ticks(pid):
    """CPU clock ticks of every thread of a process but the main one: its accept side."""
    ticks = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        if int(tid) != pid:
            with open(f"/proc/{pid}/task/{tid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            ticks += int(fields[11]) + int(fields[12])  # utime and stime
    return ticks
