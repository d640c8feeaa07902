"""What the process tests share: a helper as a child process with its log in a
file, a telemetry client, and a loopback of its own for each test."""
import ctypes, difflib, os, re, select, socket, subprocess, sys, tempfile, time
from pathlib import Path

import pytest

LINUX = sys.platform.startswith("linux")
PORT = 27830
LINE = re.compile(
    r'\{"cpuTemp":(\d+\.\d),"cpuTempAvg":(\d+\.\d),"gpuTemp":(\d+\.\d),"gpuUtil":([01]\.\d{3})\}\n\Z'
)
linux_only = pytest.mark.skipif(not LINUX, reason="Linux only")


def until(condition, timeout=3.0):
    deadline = time.monotonic() + timeout
    while not (met := condition()) and time.monotonic() < deadline:
        time.sleep(0.01)
    return bool(met)


def private_network(tcp_wmem=None):
    """A loopback of its own for this process and what it starts from now on;
    False where the machine allows no network namespace."""
    if not LINUX or ctypes.CDLL(None).unshare(0x40000000) != 0:  # CLONE_NEWNET
        return False
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    if tcp_wmem:
        Path("/proc/sys/net/ipv4/tcp_wmem").write_text(tcp_wmem)
    return True


@pytest.fixture(autouse=True)
def own_loopback():
    private_network()


class Helper:
    def __init__(self, command, env):
        self.log = tempfile.TemporaryFile(
            "a+b"
        )  # appending, so where it writes never depends on our reads
        self.proc = subprocess.Popen(
            command, stdin=subprocess.DEVNULL, stderr=self.log, env={**os.environ, **env}
        )
        self.pid = self.proc.pid

    def stderr(self):
        return os.pread(self.log.fileno(), 1 << 24, 0).decode(errors="replace")

    def messages(self):
        """Each log entry from "[Helper]" on, without the prefix the log adds; a line still being written is none yet."""
        return [
            line[line.index("[Helper]") :]
            for line in self.stderr().split("\n")[:-1]
            if "[Helper]" in line
        ]

    def wait_log(self, text, timeout=3.0):
        return until(lambda: any(text in message for message in self.messages()), timeout)


def require_free_port():
    """Where the tests share the machine's loopback (a Mac), an installed helper already on the
    port would answer in place of the one under test."""
    probe = socket.socket()
    probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        probe.bind(("127.0.0.1", PORT))
    except OSError:
        pytest.fail(
            f"127.0.0.1:{PORT} is taken, most likely by the installed helper: stop it with "
            "`launchctl bootout gui/$UID/app.pelagrin.helper.plist` (or quit it) and test again",
            pytrace=False,
        )
    finally:
        probe.close()


@pytest.fixture
def start():
    helpers = []

    def launch(binary, env=None, wrap=()):
        if not helpers:
            require_free_port()
        helpers.append(Helper([*wrap, binary], env or {}))
        return helpers[-1]

    yield launch
    for helper in helpers:
        helper.proc.kill(), helper.proc.wait()


class Client:
    def __init__(self, rcvbuf=0, timeout=3.0):
        def connected():
            self.sock, self.buffer = socket.socket(), b""
            rcvbuf and self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
            self.sock.settimeout(timeout)  # a stalled helper's full backlog drops the handshake
            return self.sock.connect_ex(("127.0.0.1", PORT)) == 0 or self.sock.close()

        assert until(connected, timeout), "nothing listens on the port"

    def line(self, timeout=2.0):
        """The next whole line, or None when none comes in time or the helper hung up."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            try:
                data = select.select([self.sock], [], [], max(0, deadline - time.monotonic()))[
                    0
                ] and self.sock.recv(65536)
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
            match = LINE.match(self.line(timeout) or "")
            assert match, f"no well-formed line after cycles {numbers[-3:]}"
            numbers.append(round(float(match[4]) * 1000))
        return numbers

    def ready_cycles(self):
        """The cycle numbers of every whole line that has arrived, without waiting for more."""
        while select.select([self.sock], [], [], 0)[0] and (data := self.sock.recv(65536)):
            self.buffer += data
        return self.cycles(self.buffer.count(b"\n"))

    def closed_without_data(self, timeout=2.0):
        try:
            return bool(select.select([self.sock], [], [], timeout)[0]) and self.sock.recv(1) == b""
        except ConnectionResetError:
            return True


def consecutive(cycles):
    return all((later - earlier) % 1000 == 1 for earlier, later in zip(cycles, cycles[1:]))


def assert_golden(path, text):
    """`text` must equal the golden file at `path`; PELAGRIN_BLESS=1 rewrites the file instead."""
    if os.environ.get("PELAGRIN_BLESS"):
        path.write_text(text)
    expected = path.read_text().splitlines(keepends=True)
    diff = "".join(difflib.unified_diff(expected, text.splitlines(keepends=True), str(path), "now"))
    assert not diff, f"not as its golden file (PELAGRIN_BLESS=1 rewrites it):\n{diff}"
