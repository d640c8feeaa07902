"""The helper over real loopback: its log, its clients, the faults it must come through, and,
marked, the churn soak and memcheck."""
import contextlib, json, os, random, re, resource, shutil, signal, socket, subprocess, sys, tempfile, termios, time
from dataclasses import dataclass, field
from datetime import datetime
from pathlib import Path

import pytest

from conftest import (
    ISOLATED,
    LINE,
    LINUX,
    PORT,
    Client,
    consecutive,
    linux_only,
    needs_namespaces,
    until,
)
from conftest import assert_golden, require_free_port

FAKE = os.environ.get("FAKE_HELPER")
FIXTURES = Path(os.environ.get("FIXTURES", ""))
SANITIZED = os.environ.get("SANITIZED") == "1"
COUNTING = {"PELAGRIN_FAKE_COUNTER": "1"}


def test_a_port_already_taken_is_named_before_any_helper_starts():
    require_free_port()
    holder = socket.create_server(("127.0.0.1", PORT))  # as an installed helper holds it on a Mac
    with pytest.raises(pytest.fail.Exception, match=r"launchctl bootout gui/\$UID/app\.pelagrin"):
        require_free_port()
    holder.close()


def test_four_clients_a_fifth_turned_away_the_vanished_dropped_and_the_port_held(start):
    first = start(FAKE, env=COUNTING)
    clients = [Client() for _ in range(4)]
    assert all(client.line() for client in clients)
    assert Client().closed_without_data()
    clients[1].sock.close()
    clients[3].sock.close()
    # A close shows only at a later send: meanwhile the others miss no cycle.
    assert consecutive(clients[0].cycles(20))
    assert consecutive(clients[2].cycles(20))
    newcomer = Client()
    assert newcomer.line()
    second = start(FAKE)
    assert second.proc.wait(3) == 1
    listener = f"127.0.0.1:{PORT} backlog 4" if ISOLATED else f"127.0.0.1:{PORT}"
    assert listening_on_the_port() == [listener]
    assert f" {Path(FAKE).name}[{first.pid}:" in first.stderr(), "an NSLog-style prefix"
    log = "\n".join(first.messages() + ["", "A second helper:"] + second.messages() + [""])
    assert_golden(FIXTURES / "stream/four-clients.log", re.sub(r"fd=\d+", "fd=N", log))


def test_a_line_every_two_seconds_to_whoever_has_not_gone(start):
    start(os.environ["TIMED_HELPER"])
    departed = [Client() for _ in range(4)]
    assert all(client.line(timeout=3) for client in departed)
    for client in departed:
        client.sock.close()
    # Long before a send to them could fail: as when Pelagrin restarts while the table is full.
    newcomers = [Client() for _ in range(4)]
    assert all(client.line(timeout=3) for client in newcomers), "a newcomer was turned away"
    began = time.monotonic()
    assert newcomers[0].line(timeout=3)
    assert 1.9 < time.monotonic() - began < 2.5, "a cycle is the readings and a 2 s pause"


@dataclass
class Asked:
    arguments: list
    status: int
    stdout: str
    stderr: str


USAGE = "Usage: PelagrinHelper [--help | --version]\n"
ASKED = [
    Asked(["--version"], 0, f"PelagrinHelper {os.environ.get('VERSION')}\n", ""),
    Asked(["--help"], 0, USAGE, ""),
    Asked(["--help", "--version"], 2, "", USAGE),
    Asked(["-v"], 2, "", USAGE),
]


@pytest.mark.parametrize("asked", ASKED, ids=lambda asked: " ".join(asked.arguments))
def test_an_argument_is_answered_and_the_port_left_alone(asked):
    require_free_port()
    command = [os.environ["HELPER"], *asked.arguments]
    answered = subprocess.run(command, capture_output=True, text=True, timeout=5)
    assert answered.returncode == asked.status
    assert answered.stdout[: len(asked.stdout)] == asked.stdout
    assert answered.stderr[: len(asked.stderr)] == asked.stderr
    assert bool(answered.stdout) == bool(asked.stdout), "the answer on one stream alone"


WATCH = Path(__file__).parents[2] / "scripts/watch-telemetry.py"


def test_the_sample_client_waits_out_an_absent_or_full_helper_and_keeps_the_newest_line(start):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    said, shown = tempfile.TemporaryFile("w+"), tempfile.TemporaryFile("w+")
    command = [sys.executable, WATCH, "--count", "2"]
    watcher = subprocess.Popen(command, stdout=shown, stderr=said, text=True)
    assert until(lambda: "refused" in read(said))
    start(FAKE, env=COUNTING)
    holders = [Client() for _ in range(4)]
    assert until(lambda: "before any line: the helper serves four" in read(said), timeout=5)
    holders[0].sock.close()
    assert until(lambda: read(shown), timeout=8)
    watcher.send_signal(signal.SIGSTOP)
    time.sleep(1)  # about 100 cycles queue up meanwhile
    watcher.send_signal(signal.SIGCONT)
    assert watcher.wait(timeout=5) == 0
    first, newest = [
        round(float(LINE.match(line + "\n")[4]) * 1000) for line in read(shown).split()
    ]
    assert (newest - first) % 1000 > 50, "the lines queued during the pause were skipped"
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    assert after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime < 0.5, "it spun"


def read(file):
    file.seek(0)
    return file.read()


def listening_on_the_port():
    """Each listener on the port as the system's socket table lists it: in the namespaces, ss's
    rows with their backlog; otherwise lsof's, which Debian has too, as on a Mac."""
    if ISOLATED:
        table = subprocess.run(["ss", "-Hltn", f"sport = :{PORT}"], capture_output=True, text=True)
        return [f"{row.split()[3]} backlog {row.split()[2]}" for row in table.stdout.splitlines()]
    lsof = ["lsof", "-nP", f"-iTCP:{PORT}", "-sTCP:LISTEN", "-Fn"]
    return lsof_listeners(subprocess.run(lsof, capture_output=True, text=True).stdout)


def lsof_listeners(listing):
    """The names in lsof's field output: a field a line, its letter first, `n` the name."""
    return [line[1:] for line in listing.splitlines() if line.startswith("n")]


def test_lsof_is_read_as_a_mac_writes_it():
    listing = (FIXTURES / "stream/lsof-macos.txt").read_text()
    assert lsof_listeners(listing) == [f"127.0.0.1:{PORT}", f"[::1]:{PORT}"]


def sends_as(semantics):
    """A platform's send semantics: on a Mac its own, here Darwin's by preloading."""
    if not LINUX or semantics == "linux":
        return {}
    asan = os.environ.get("ASAN_OPTIONS", "")  # its runtime comes second to the preloaded library
    return {
        "LD_PRELOAD": os.environ["DARWIN_SEND"],
        "ASAN_OPTIONS": f"{asan}:verify_asan_link_order=0",
    }


@pytest.mark.parametrize("semantics", ["linux", "darwin"] if LINUX else ["darwin"])
def test_a_client_that_stops_reading_is_dropped_while_the_others_keep_receiving(start, semantics):
    helper = start(os.environ["SOAK_HELPER"], env={**COUNTING, **sends_as(semantics)})
    stuck = Client()
    reader = Client()
    cycles = []
    while not helper.wait_log("Client disconnected", 0):
        # A cycle is 2 ms: a second without a line is a stall.
        cycles += reader.cycles(1, timeout=1)
        # About 1,300 lines fill its default receive buffer and the helper's small send buffer;
        # the send buffer the system grows on its own held some 36,000.
        assert len(cycles) < 10000, "the stuck client was not dropped once its buffers were full"
    assert consecutive(cycles + reader.cycles(10))
    stuck.sock.settimeout(5)
    received = b""
    reset = False
    try:
        while data := stuck.sock.recv(65536):
            received += data
    except ConnectionResetError:  # what did not reach it is discarded
        reset = True
    *whole, rest = received.split(b"\n")
    assert reset or rest == b"", "the stream ended on part of a line"
    assert all(LINE.match(line.decode() + "\n") for line in whole)


@dataclass
class LogFate:
    shell: str  # starts the helper "$3" with "$0" a FIFO, "$1" a socket and "$2" a terminal, none read
    connections: int  # enough to fill what is not read, two log entries each
    reader_leaves: bool = False
    syslog: str = ""  # the type of the socket shown as /dev/log in a mount namespace of its own
    terminal_stopped: bool = False  # its output suspended, as by Ctrl-S


def log_fates():
    rows = json.loads((FIXTURES / "stream/log-fates.json").read_text())
    for name, row in rows.items():
        fate = LogFate(**row)
        marks = [needs_namespaces("a private /dev/log")] if fate.syslog else []
        yield pytest.param(fate, id=name, marks=marks)


TOSTOP_JOB = {
    "PYTHON": sys.executable,
    "TOSTOP_JOB": str(Path(__file__).parents[1] / "support/tostop_job.py"),
}
SYSLOG_ENTRY = (
    rb"<13>\w{3} [ \d]\d \d\d:\d\d:\d\d PelagrinHelper\[\d+\]: \[Helper\] Pelagrin Helper starting"
)


def log_socket(path, kind):
    if kind == "stream":
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(str(path))
        listener.listen()
        return listener
    syslog = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    syslog.bind(str(path))
    return syslog


def first_entry(syslog):
    """The first entry the helper sent to the log socket, or None."""
    syslog.setblocking(False)
    try:
        if syslog.type == socket.SOCK_STREAM:
            with syslog.accept()[0] as connection:
                return connection.recv(4096).split(b"\0")[0]
        return syslog.recv(4096)
    except BlockingIOError:
        return None


def a_newcomer_is_served():
    """Once the helper has seen the closed clients' slots go, a new client gets a line."""
    return Client().line(timeout=0.5) is not None


@pytest.fixture
def closing():
    """Closes what a test hands it once the test ends, pass or fail."""
    with contextlib.ExitStack() as stack:
        yield stack


@pytest.mark.parametrize("fate", log_fates())
def test_two_readers_get_every_cycle_and_nothing_else_whatever_becomes_of_the_log(
    closing, start, tmp_path, fate
):
    os.mkfifo(tmp_path / "stderr")
    stderr = closing.enter_context(
        open(os.open(tmp_path / "stderr", os.O_RDONLY | os.O_NONBLOCK), "rb")
    )
    terminal, terminal_side = os.openpty()  # its side in a terminal's default mode
    closing.callback(os.close, terminal)
    closing.callback(os.close, terminal_side)
    if fate.terminal_stopped:
        termios.tcflow(terminal_side, termios.TCOOFF)
    places = [tmp_path / "stderr", tmp_path / "syslog", os.ttyname(terminal_side)]
    wrap = ["sh", "-c", fate.shell, *places]
    if fate.syslog:
        syslog = closing.enter_context(log_socket(tmp_path / "syslog", fate.syslog))
        wrap = ["unshare", "--mount", *wrap]
    start(FAKE, env={**COUNTING, **TOSTOP_JOB}, wrap=wrap)
    readers = [Client(), Client()]
    seen = [[], []]
    if fate.reader_leaves:
        stderr.close()
    for _ in range(fate.connections // 4):
        for _ in range(4):  # what a full backlog takes before it drops a handshake
            Client().sock.close()
        for reader, cycles in zip(readers, seen):
            cycles += reader.cycles(1, timeout=1)  # a second without a line is a stall
            cycles += reader.ready_cycles()
    assert all(consecutive(cycles) for cycles in seen)
    assert until(a_newcomer_is_served), "the helper serves no one new"
    if fate.syslog:
        assert re.match(SYSLOG_ENTRY, first_entry(syslog) or b""), "the log got no entry"


@dataclass
class Flood:
    readers: int  # the clients that stay; with four, every newcomer is turned away
    events: int  # what each connection of the flood logs


FLOODS = [
    pytest.param(Flood(readers=3, events=2), id="arrivals and departures"),
    pytest.param(Flood(readers=4, events=1), id="rejections"),
]
CLIENT_EVENTS = ("[Helper] Client connected", "[Helper] Client disconnected", "[Helper] Rejected")


def counted(messages, what):
    return sum(int(count) for count in re.findall(rf"{what} (\d+) messages", "\n".join(messages)))


def logged_at(stderr_line):
    return datetime.strptime(stderr_line[:23], "%Y-%m-%d %H:%M:%S.%f").timestamp()


@needs_namespaces("a private /dev/log")
@pytest.mark.parametrize("flood", FLOODS)
def test_a_flood_of_connections_reaches_the_log_as_counts_and_readers_miss_no_cycle(
    start, tmp_path, flood
):
    syslog = log_socket(tmp_path / "syslog", "datagram")  # not read until the flood is over
    as_dev_log = 'mount -t tmpfs tmpfs /dev && ln -s "$0" /dev/log && exec "$1"'
    wrap = ["unshare", "--mount", "sh", "-c", as_dev_log, tmp_path / "syslog"]
    helper = start(FAKE, env=COUNTING, wrap=wrap)
    readers = [Client() for _ in range(flood.readers)]
    seen = [reader.cycles(1) for reader in readers]
    for _ in range(500):
        for _ in range(4):  # what a full backlog takes before it drops a handshake
            Client().sock.close()
        time.sleep(0.001)
        for reader, cycles in zip(readers, seen):
            cycles += reader.ready_cycles()
    assert all(consecutive(cycles + reader.cycles(5)) for reader, cycles in zip(readers, seen))
    events = flood.readers + 2000 * flood.events

    def all_counted():
        messages = helper.messages()
        logged = [message for message in messages if message.startswith(CLIENT_EVENTS)]
        return len(logged) + counted(messages, "Suppressed") == events

    assert until(all_counted), "an event neither logged nor counted once the flood was over"
    window = float(re.search(r"in the last ([\d.]+) s", helper.stderr())[1])
    stamped = helper.stderr().splitlines()
    for event in CLIENT_EVENTS:  # ten of a kind at most in any window
        times = [logged_at(line) for line in stamped if event in line]
        assert all(later - earlier > 0.8 * window for earlier, later in zip(times, times[10:]))
    if flood.events == 2:  # and ten of each: arrivals do not use up the room of departures
        times = [logged_at(line) for line in stamped if "[Helper] Client " in line]
        assert any(later - earlier < 0.5 * window for earlier, later in zip(times, times[10:]))
    syslog.settimeout(0.5)
    entries = []
    with contextlib.suppress(TimeoutError):
        while True:
            entries.append(syslog.recv(4096).decode().split("]: ", 1)[1])
    notices = [entry for entry in entries if entry.startswith("[Helper] Dropped")]
    assert notices, "the log never overflowed"
    lost = counted(notices, "Dropped")
    assert len(entries) - len(notices) + lost == len(helper.messages()), "a loss miscounted"


@linux_only
@pytest.mark.skipif(SANITIZED, reason="a sanitizer needs more memory")
def test_an_accept_thread_that_cannot_start_ends_start_up(start):
    # Room for the program, none for a thread's stack, as when memory runs out.
    helper = start(os.environ["HELPER"], wrap=["prlimit", "--as=268435456", "--stack=1073741824"])
    assert helper.proc.wait(3) == 1
    assert helper.messages()[2:] == ["[Helper] Failed to start accept thread"]


def cpu_ticks(pid):  # utime + stime
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


@linux_only
def test_accept_failing_for_want_of_descriptors_does_not_spin(start):
    helper = start(FAKE, env=COUNTING)
    readers = [Client()]
    assert helper.wait_log("total=1)")
    soft, hard = resource.prlimit(helper.pid, resource.RLIMIT_NOFILE)
    highest = max(map(int, os.listdir(f"/proc/{helper.pid}/fd")))
    resource.prlimit(helper.pid, resource.RLIMIT_NOFILE, (highest + 1, hard))
    waiting = Client()
    if helper.wait_log("total=2)", 0.5):  # an accept already waiting had reserved its descriptor
        readers.append(waiting)
        waiting = Client()
    before = cpu_ticks(helper.pid)
    assert all(consecutive(reader.cycles(100)) for reader in readers)
    assert cpu_ticks(helper.pid) - before <= 25, "the accept thread spun"
    admitted = f"total={len(readers) + 1})"
    assert not helper.wait_log(admitted, 0)
    resource.prlimit(helper.pid, resource.RLIMIT_NOFILE, (soft, hard))
    assert helper.wait_log(admitted)


def plant(path, fault):
    """A FIFO stalls an open without O_NONBLOCK (a written one, a read); a folder fails a read
    with EISDIR, /proc/self/mem with EIO."""
    path.unlink(missing_ok=True)
    if fault == "folder":
        path.mkdir()
    elif fault == "memory":
        path.symlink_to("/proc/self/mem")
    else:
        os.mkfifo(path)


@linux_only
def test_the_stream_keeps_pace_and_numbers_while_sensor_files_block_or_fail(start, tmp_path):
    tree = tmp_path / "class"
    shutil.copytree(FIXTURES / "desktop/class", tree)
    writers = []
    faults = json.loads((FIXTURES / "stream/sensor-file-faults.json").read_text())
    for path, fault in faults.items():
        plant(tree / path, fault)
        if fault == "written fifo":
            writers.append(os.open(tree / path, os.O_RDWR | os.O_NONBLOCK))
    env = {"PELAGRIN_TEST_SYSFS": str(tmp_path), "PELAGRIN_TEST_NVML": "/none"}
    helper = start(os.environ["TREE_HELPER"], env=env)
    client = Client()
    faulty = '{"cpuTemp":50.5,"cpuTempAvg":50.5,"gpuTemp":45.0,"gpuUtil":0.000}\n'
    assert client.line(timeout=1) == faulty
    descriptors = os.listdir(f"/proc/{helper.pid}/fd")
    lines = [client.line(timeout=1) for _ in range(40)]
    assert lines == [faulty] * 40, "a second without a line is a stall"
    assert len(os.listdir(f"/proc/{helper.pid}/fd")) == len(descriptors), "a descriptor leaked"
    for writer in writers:
        os.close(writer)


def resident_kib(pid):
    return int(re.search(r"^VmRSS:\s+(\d+)", Path(f"/proc/{pid}/status").read_text(), re.M)[1])


@dataclass
class Guest:
    client: Client
    leaves_at: int
    seen: list = field(default_factory=list)


@linux_only
@pytest.mark.soak
def test_client_churn_leaves_the_table_memory_and_descriptors_as_they_were(start):
    cycles = int(os.environ.get("PELAGRIN_SOAK_CYCLES", "500"))
    helper = start(os.environ["SOAK_HELPER"], env=COUNTING)
    guests = [Guest(Client(), leaves_at=cycles) for _ in range(2)]
    pace = guests[0]
    pace.seen += pace.client.cycles(1)
    baseline = len(os.listdir(f"/proc/{helper.pid}/fd")) - 2
    rng = random.Random(6)
    entries = 4  # start-up's two and the steady readers'
    settled = None
    # One change a cycle, each seen in the log before the next.
    while len(pace.seen) < cycles:
        pace.seen += pace.client.cycles(1)
        cycle = len(pace.seen)
        for guest in guests:
            guest.seen += guest.client.ready_cycles()
        for guest in [guest for guest in guests if guest.leaves_at <= cycle]:
            assert consecutive(guest.seen), "a client missed or repeated a cycle"
            guest.client.sock.close()
            guests.remove(guest)
            entries += 1
            assert until(lambda: len(helper.messages()) == entries), "no departure"
        entries += 1
        if len(guests) == 4:
            assert Client().closed_without_data(), "a fifth client was not turned away"
        else:
            guest = Guest(Client(), leaves_at=cycle + rng.randint(0, 60))
            guests.append(guest)
            guest.client.sock.sendall(os.urandom(rng.choice((2048, 65536))))  # never read
        assert until(lambda: len(helper.messages()) == entries), "no arrival"
        if settled is None and cycle >= min(1000, cycles // 2):
            settled = resident_kib(helper.pid)
    for guest in guests:
        assert consecutive(guest.seen), "a client missed or repeated a cycle"
        guest.client.sock.close()
    returned = until(lambda: len(os.listdir(f"/proc/{helper.pid}/fd")) == baseline)
    assert returned, "descriptors leaked"
    growth = resident_kib(helper.pid) - settled
    print(f"RSS {settled} KiB once settled, then {growth:+} KiB by cycle {cycles}")
    if cycles >= 2000 and not SANITIZED:  # a sanitizer's quarantine grows
        assert growth <= 64


def on_the_desktop(folder, *wrap):
    """The shipped helper's wrapper and environment where the desktop fixture is /sys, and the
    fake NVML is the library of NVIDIA's name, so that every walk runs over known sensors."""
    (folder / "libnvidia-ml.so.1").symlink_to(os.environ["FAKE_NVML"])
    as_sys = ["unshare", "--mount", "sh", "-c", 'mount --bind "$0" /sys && exec "$@"']
    return dict(wrap=[*as_sys, f"{FIXTURES}/desktop", *wrap], env={"LD_LIBRARY_PATH": str(folder)})


@needs_namespaces("the desktop tree mounted as /sys")
def test_the_shipped_helper_reads_sysfs_and_nvidias_library_where_they_are(start, tmp_path):
    start(os.environ["HELPER"], **on_the_desktop(tmp_path))
    line = json.loads((FIXTURES / "desktop/report.json").read_text())["line"]
    assert Client().line(timeout=4) == line, "read as the report reads the tree"


@needs_namespaces("the desktop tree mounted as /sys")
@pytest.mark.valgrind
@pytest.mark.skipif(not shutil.which("valgrind") or SANITIZED, reason="needs valgrind")
def test_the_shipped_helper_under_memcheck_loses_nothing(start, tmp_path):
    memcheck = ["valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite"]
    helper = start(
        os.environ["HELPER"], **on_the_desktop(tmp_path, *memcheck, f"--log-file={tmp_path}/log")
    )
    clients = [Client(timeout=30) for _ in range(4)]
    assert all(client.line(timeout=15) for client in clients)
    clients[1].sock.close()
    assert all(clients[0].line(timeout=15) for _ in range(2))
    helper.proc.terminate()
    assert helper.proc.wait(60) == -signal.SIGTERM
    report = (tmp_path / "log").read_text()
    assert re.search(r"definitely lost: 0 bytes|All heap blocks were freed", report), report
    assert "ERROR SUMMARY: 0 errors" in report, report
