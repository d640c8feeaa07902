"""What the process tests share: helpers with their logs in files, a client, a loopback each."""
import ctypes, difflib, functools, os, re, select, socket, subprocess, sys, tempfile, time
from pathlib import Path

import pytest

LINUX = sys.platform.startswith("linux")
# In namespaces of its own (tests/system/isolated), or on the machine's loopback, as on a Mac.
ISOLATED = os.environ.get("PELAGRIN_ISOLATED") == "1"
PORT = 27830
LINE = re.compile(
    r'\{"cpuTemp":(\d+\.\d),"cpuTempAvg":(\d+\.\d),"gpuTemp":(\d+\.\d),"gpuUtil":([01]\.\d{3})\}\n\Z'
)
linux_only = pytest.mark.skipif(not LINUX, reason="Linux only")


def needs_namespaces(what):
    return pytest.mark.skipif(not ISOLATED, reason=f"needs namespaces of its own: {what}")


def until(condition, timeout=3.0):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


@pytest.fixture(autouse=True)
def own_loopback():
    """A fresh loopback for each test, where the suite runs in namespaces."""
    if ISOLATED:
        assert ctypes.CDLL(None).unshare(0x40000000) == 0  # CLONE_NEWNET
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


class Helper:
    def __init__(self, command, env):
        # Appending, so that where it writes never depends on our reads.
        self.log = tempfile.TemporaryFile("a+b")
        env = {**os.environ, **env}
        self.proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stderr=self.log, env=env)
        self.pid = self.proc.pid

    def stderr(self):
        return os.pread(self.log.fileno(), 1 << 24, 0).decode(errors="replace")

    def messages(self):
        """Each whole log entry, without the prefix the log adds."""
        lines = self.stderr().split("\n")[:-1]
        return [line[line.index("[Helper]") :] for line in lines if "[Helper]" in line]

    def wait_log(self, text, timeout=3.0):
        return until(lambda: any(text in message for message in self.messages()), timeout)


def port_taken():
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", PORT)) == 0


def require_free_port():
    if port_taken():
        pytest.fail(
            f"127.0.0.1:{PORT} is taken, most likely by the installed helper: stop it with "
            "`launchctl bootout gui/$UID/app.pelagrin.helper.plist` (or quit it)",
            pytrace=False,
        )


def started(helpers, binary, env=None, wrap=()):
    helper = Helper([*wrap, binary], env or {})
    helpers.append(helper)
    return helper


@pytest.fixture
def start():
    require_free_port()
    helpers = []
    yield functools.partial(started, helpers)
    for helper in helpers:
        helper.proc.kill()
        helper.proc.wait()
    # A helper that a wrapper started goes a moment after the wrapper.
    until(lambda: not port_taken())


class Client:
    def __init__(self, timeout=3.0):
        self.timeout = timeout
        self.buffer = b""
        assert until(self.connect, timeout), "nothing listens on the port"

    def connect(self):
        self.sock = socket.socket()
        self.sock.settimeout(self.timeout)  # a stalled helper's full backlog drops the handshake
        if self.sock.connect_ex(("127.0.0.1", PORT)) == 0:
            return True
        self.sock.close()
        return False

    def receive(self, timeout):
        """What arrives within `timeout`: None when nothing does, b"" when the helper hung up."""
        if not select.select([self.sock], [], [], timeout)[0]:
            return None
        try:
            return self.sock.recv(65536)
        except ConnectionResetError:
            return b""

    def line(self, timeout=2.0):
        """The next whole line, or None when none comes in time or the helper hung up."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            data = self.receive(max(0, deadline - time.monotonic()))
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
        """The cycle numbers of the whole lines already here, without waiting."""
        while data := self.receive(0):
            self.buffer += data
        return self.cycles(self.buffer.count(b"\n"))

    def closed_without_data(self, timeout=2.0):
        return self.receive(timeout) == b""


def consecutive(cycles):
    return all((later - earlier) % 1000 == 1 for earlier, later in zip(cycles, cycles[1:]))


def assert_golden(path, text):
    """`text` must equal the golden file at `path`; PELAGRIN_BLESS=1 rewrites the file instead."""
    if os.environ.get("PELAGRIN_BLESS"):
        path.write_text(text)
    expected = path.read_text().splitlines(keepends=True)
    diff = "".join(difflib.unified_diff(expected, text.splitlines(keepends=True), str(path), "now"))
    assert not diff, f"not as its golden file (PELAGRIN_BLESS=1 rewrites it):\n{diff}"
