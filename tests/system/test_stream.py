"""The helper over real loopback: start-up and its log, the client table, the
line from real sensor files, the faults the stream must come through, and the
long runs: client churn for PELAGRIN_SOAK_CYCLES cycles, memcheck."""
import os, random, re, resource, shutil, signal, socket
from dataclasses import dataclass
from pathlib import Path

import pytest

from conftest import LINE, LINUX, PORT, Client, consecutive, linux_only, private_network, until

HELPER, FAKE, TREE = (
    os.environ.get("HELPER"),
    os.environ.get("FAKE_HELPER"),
    os.environ.get("TREE_HELPER"),
)
FIXTURES, COUNTING = os.environ.get("FIXTURES", ""), {"PELAGRIN_FAKE_COUNTER": "1"}
START, LISTENING = (
    "[Helper] Pelagrin Helper starting on port 27830",
    "[Helper] Listening on 127.0.0.1:27830",
)
CONNECTED = re.compile(r"\[Helper\] Client connected \(fd=(\d+), total=(\d+)\)\Z")
DISCONNECTED = re.compile(r"\[Helper\] Client disconnected \(fd=(\d+)\)\Z")
REJECTED = "[Helper] Rejected client \u2014 max connections reached"


def table(log):
    """The clients in the table as the log tells it, each entry checked against it."""
    assert log[:2] == [START, LISTENING]
    clients = set()
    for message in log[2:]:
        if match := CONNECTED.match(message):
            assert int(match[1]) not in clients and int(match[2]) == len(clients) + 1, message
            clients.add(int(match[1]))
        elif match := DISCONNECTED.match(message):
            clients.remove(int(match[1]))
        else:
            assert message == REJECTED and len(clients) == 4, message
    return clients


def test_starts_in_order_streams_lines_and_a_second_helper_finds_the_port_taken(start):
    first = start(HELPER)
    assert LINE.match(Client().line(timeout=4) or "")
    second = start(HELPER)
    assert second.proc.wait(3) == 1
    if LINUX:
        assert len(table(first.messages())) == 1
        assert (
            f" PelagrinHelper[{first.pid}:" in first.stderr().splitlines()[0]
        ), "an NSLog-style prefix"
        assert second.messages() == [
            START,
            "[Helper] Failed to bind to port 27830 (already in use?)",
        ]


def test_a_port_already_taken_is_named_before_the_first_helper_starts(start):
    holder = socket.create_server(("127.0.0.1", PORT))  # as an installed helper holds it on a Mac
    with pytest.raises(pytest.fail.Exception, match=r"launchctl bootout gui/\$UID/app\.pelagrin"):
        start(HELPER)
    holder.close()


def test_four_clients_a_fifth_turned_away_the_vanished_dropped_and_nothing_beyond_ipv4_loopback(
    start,
):
    start(
        FAKE, env=COUNTING
    )  # the log's account of the table, and clients that send, are the churn test's
    clients = [Client() for _ in range(4)]
    assert all(client.line() for client in clients) and Client().closed_without_data()
    assert all(consecutive(client.cycles(5)) for client in clients)
    clients[1].sock.close(), clients[3].sock.close()
    # A close shows only at a later send: meanwhile the others miss no cycle.
    assert (
        consecutive(clients[0].cycles(20))
        and consecutive(clients[2].cycles(20))
        and Client().line()
    )
    for family, address in ((socket.AF_INET6, "::1"), (socket.AF_INET, "127.0.0.2")):
        with socket.socket(family) as other:
            other.settimeout(1)
            assert other.connect_ex((address, PORT)) != 0, address


@linux_only
def test_a_client_that_stops_reading_is_dropped_while_the_others_keep_receiving(start):
    if not private_network("4096 4096 4096"):  # small send buffers fill in seconds, not hours
        pytest.skip("needs a network namespace")
    helper = start(FAKE, env=COUNTING)
    stuck = Client(rcvbuf=1024)
    assert helper.wait_log("total=1)")
    reader, cycles = Client(), []
    dropped = f"[Helper] Client disconnected (fd={CONNECTED.match(helper.messages()[2])[1]})"
    while dropped not in helper.messages():
        cycles += reader.cycles(
            1, timeout=1
        )  # a cycle is 10 ms: a second without a line is a stall
        assert len(cycles) < 3000, "the stuck client was never dropped"
    assert consecutive(cycles + reader.cycles(10))
    stuck.sock.settimeout(5)
    received, reset = b"", False
    try:
        while data := stuck.sock.recv(65536):
            received += data
    except ConnectionResetError:  # what did not reach it is discarded
        reset = True
    *whole, rest = received.split(b"\n")
    assert reset or rest == b"", "the stream ended on part of a line"
    assert whole and all(LINE.match(line.decode() + "\n") for line in whole)


@dataclass
class LogFate:
    shell: str  # starts the helper "$2" with "$0" a FIFO and "$1" a datagram socket, neither read
    reader_leaves: bool = False


LOG_FATES = {
    "stderr a pipe nobody reads": LogFate('exec "$2" 2>"$0"'),
    "stderr a pipe whose reader goes away": LogFate('exec "$2" 2>"$0"', reader_leaves=True),
    "0, 1 and 2 closed": LogFate('exec "$2" <&- >&- 2>&-'),
    "/dev/log a socket nobody reads": LogFate(
        'mount -t tmpfs tmpfs /dev && ln -s "$1" /dev/log && exec "$2"'
    ),
}


@linux_only
@pytest.mark.parametrize("fate", LOG_FATES.values(), ids=LOG_FATES.keys())
def test_two_readers_get_every_cycle_and_nothing_else_whatever_becomes_of_the_log(
    start, tmp_path, fate
):
    os.mkfifo(tmp_path / "stderr")
    stderr = open(os.open(tmp_path / "stderr", os.O_RDONLY | os.O_NONBLOCK), "rb")
    syslog = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    syslog.bind(str(tmp_path / "syslog"))
    wrap = ["unshare", "--mount", "sh", "-c", fate.shell, tmp_path / "stderr", tmp_path / "syslog"]
    start(FAKE, env=COUNTING, wrap=wrap)
    readers, seen = [Client(), Client()], [[], []]
    if fate.reader_leaves:
        stderr.close()
    for _ in range(500):  # 2000 connections, each logged
        for _ in range(4):  # what a full backlog takes before it drops a handshake
            Client().sock.close()
        for reader, cycles in zip(readers, seen):
            cycles += reader.cycles(1, timeout=1)  # a second without a line is a stall
            cycles += reader.ready_cycles()
    assert all(consecutive(cycles) for cycles in seen)
    stderr.close()
    syslog.close()


@linux_only
@pytest.mark.skipif(
    os.environ.get("SANITIZED") == "1", reason="a sanitizer needs more address space"
)
def test_an_accept_thread_that_cannot_start_ends_start_up(start):
    # Room for the program, none for a thread's stack, as when memory runs out.
    helper = start(HELPER, wrap=["prlimit", "--as=268435456", "--stack=1073741824"])
    assert helper.proc.wait(3) == 1 and helper.messages() == [
        START,
        LISTENING,
        "[Helper] Failed to start accept thread",
    ]


def accept_side_ticks(pid):
    """CPU clock ticks (utime, stime) of every thread of the helper but the main one."""
    return sum(
        int(field)
        for tid in set(os.listdir(f"/proc/{pid}/task")) - {str(pid)}
        for field in Path(f"/proc/{pid}/task/{tid}/stat")
        .read_text()
        .rsplit(")", 1)[1]
        .split()[11:13]
    )


@linux_only
def test_accept_failing_for_want_of_descriptors_does_not_spin(start):
    helper = start(FAKE, env=COUNTING)
    readers = [Client()]
    assert helper.wait_log("total=1)")
    limit = resource.prlimit(helper.pid, resource.RLIMIT_NOFILE)
    resource.prlimit(
        helper.pid,
        resource.RLIMIT_NOFILE,
        (max(map(int, os.listdir(f"/proc/{helper.pid}/fd"))) + 1, limit[1]),
    )
    waiting = Client()
    if helper.wait_log("total=2)", 0.5):  # an accept already waiting had reserved its descriptor
        readers.append(waiting)
        waiting = Client()
    before = accept_side_ticks(helper.pid)
    assert all(consecutive(reader.cycles(100)) for reader in readers)
    assert (
        accept_side_ticks(helper.pid) - before <= 5
    ), "the accept thread spun while accept kept failing"
    admitted = f"total={len(readers) + 1})"
    assert not helper.wait_log(admitted, 0)
    resource.prlimit(helper.pid, resource.RLIMIT_NOFILE, limit)
    assert helper.wait_log(admitted) and waiting.line()


@linux_only
def test_the_stream_keeps_pace_and_numbers_while_sensor_files_block_or_fail(start, tmp_path):
    shutil.copytree(f"{FIXTURES}/desktop/class", tmp_path / "class")
    writers, tree = [], tmp_path / "class"
    for path in (
        "hwmon/hwmon1/temp1_input",
        "hwmon/hwmon10/temp3_input",
        "hwmon/hwmon10/device/power/runtime_status",
        "hwmon/hwmon3",
        "drm/card0/device/gpu_busy_percent",
        "drm/card1",
    ):
        (tree / path).unlink(missing_ok=True)
        os.mkfifo(tree / path)  # without O_NONBLOCK an open or a read would wait for ever
        writers += (
            [os.open(tree / path, os.O_RDWR | os.O_NONBLOCK)]
            if path.endswith(("3_input", "percent"))
            else []
        )
    (tree / "hwmon/hwmon1/temp2_input").unlink(), (tree / "hwmon/hwmon10/temp2_input").unlink()
    os.mkdir(tree / "hwmon/hwmon1/temp2_input")  # a read fails with EISDIR
    os.symlink(
        "/proc/self/mem", tree / "hwmon/hwmon10/temp2_input"
    )  # opens, then a read fails with EIO
    helper, client = (
        start(TREE, env={"PELAGRIN_TEST_SYSFS": str(tmp_path), "PELAGRIN_TEST_NVML": "/none"}),
        Client(),
    )
    faulty = '{"cpuTemp":50.5,"cpuTempAvg":50.5,"gpuTemp":45.0,"gpuUtil":0.000}\n'
    assert [client.line(timeout=1) for _ in range(10)] == [
        faulty
    ] * 10, "a second without a line is a stall"
    descriptors = len(os.listdir(f"/proc/{helper.pid}/fd"))
    assert [client.line(timeout=1) for _ in range(40)] == [faulty] * 40
    assert (
        len(os.listdir(f"/proc/{helper.pid}/fd")) == descriptors
    ), "a failed read left a descriptor open"
    list(map(os.close, writers))


def resident_kib(pid):
    return int(re.search(r"^VmRSS:\s+(\d+)", Path(f"/proc/{pid}/status").read_text(), re.M)[1])


@linux_only
def test_client_churn_leaves_the_table_memory_and_descriptors_as_they_were(start):
    cycles = int(os.environ.get("PELAGRIN_SOAK_CYCLES", "500"))
    helper = start(os.environ["SOAK_HELPER"], env=COUNTING)
    steady = [(client, client.cycles(1)) for client in (Client(), Client())]
    baseline = len(os.listdir(f"/proc/{helper.pid}/fd")) - 2
    rng, churn, attempts, settled = (
        random.Random(6),
        [],
        2,
        None,
    )  # churn: (kind, client, leaving cycle, seen)

    def settle():  # one change at a time, each seen in the log before the next; every reader reads meanwhile
        def shown():
            for client, seen in steady + [
                (entry[1], entry[3]) for entry in churn if entry[0] == "reader"
            ]:
                seen += client.ready_cycles()
            log = helper.messages()
            return sum(bool(CONNECTED.match(m)) or m == REJECTED for m in log) == attempts and len(
                table(log)
            ) == 2 + len(churn)

        assert until(shown), "the log never showed the change"

    while (cycle := len(steady[0][1])) < cycles:
        steady[0][1].extend(steady[0][0].cycles(1))
        for entry in [entry for entry in churn if entry[2] <= cycle]:
            assert consecutive(entry[3]), "a reading client missed a cycle"
            entry[1].sock.close(), churn.remove(entry), settle()
        attempts += 1
        if len(churn) == 2:  # the table is full: a fifth is turned away
            assert Client().closed_without_data(), "a fifth client was not turned away"
        elif (kind := rng.choice(("closer", "silent", "reader"))) == "closer":
            Client().sock.close()
        else:
            churn.append((kind, Client(), cycle + rng.randint(1, 60), []))
            if kind == "reader":
                churn[-1][1].sock.sendall(
                    os.urandom(rng.choice((2048, 65536)))
                )  # garbage, never read
        settle()
        settled = settled or (cycle >= min(1000, cycles // 2) and resident_kib(helper.pid))
    for client, seen in steady + [entry[1::2] for entry in churn]:
        assert consecutive(seen), "a reading client missed or repeated a cycle"
        client.sock.close()
    assert until(lambda: not table(helper.messages()))
    assert until(
        lambda: len(os.listdir(f"/proc/{helper.pid}/fd")) == baseline
    ), "descriptors leaked"
    growth = resident_kib(helper.pid) - settled
    print(f"RSS {settled} KiB at the settling cycle, then {growth:+} KiB by cycle {cycles}")
    assert (
        cycles < 2000 or os.environ.get("SANITIZED") == "1" or growth <= 64
    )  # a sanitizer's quarantine grows


@linux_only
@pytest.mark.skipif(
    not shutil.which("valgrind") or os.environ.get("SANITIZED") == "1", reason="needs valgrind"
)
def test_the_shipped_helper_under_memcheck_loses_nothing(start, tmp_path):
    # The desktop fixture shown as /sys, and the fake NVML, so that every walk runs.
    (tmp_path / "libnvidia-ml.so.1").symlink_to(os.environ["FAKE_NVML"])
    wrap = [
        "unshare",
        "--mount",
        "sh",
        "-c",
        'mount --bind "$0" /sys && exec "$@"',
        f"{FIXTURES}/desktop",
        "valgrind",
        "--leak-check=full",
        "--errors-for-leak-kinds=definite",
        f"--log-file={tmp_path}/log",
    ]
    helper = start(HELPER, env={"LD_LIBRARY_PATH": str(tmp_path)}, wrap=wrap)
    clients = [Client(timeout=30) for _ in range(4)]
    assert all(client.line(timeout=15) for client in clients) and Client().closed_without_data(15)
    clients[1].sock.close()
    assert clients[0].line(timeout=15) and clients[0].line(timeout=15)
    helper.proc.terminate()
    assert helper.proc.wait(60) == -signal.SIGTERM
    report = (tmp_path / "log").read_text()
    assert (
        re.search(r"definitely lost: 0 bytes|All heap blocks were freed", report)
        and "ERROR SUMMARY: 0 errors" in report
    ), report
