"""The helper over real loopback: start-up and its log, the line's bytes, the
client table, and the faults the stream must survive."""
import os
import resource
import shutil
import socket
import time

import pytest

from conftest import LINE, LINUX, PORT, Client, consecutive, linux_only, private_network, thread_ticks, until

HELPER, FAKE, TREE = os.environ.get("HELPER"), os.environ.get("FAKE_HELPER"), os.environ.get("TREE_HELPER")
FIXTURES = os.environ.get("FIXTURES", "")
COUNTING = {"PELAGRIN_FAKE_COUNTER": "1"}
START = "[Helper] Pelagrin Helper starting on port 27830"
LISTENING = "[Helper] Listening on 127.0.0.1:27830"
ZERO = '{"cpuTemp":0.0,"cpuTempAvg":0.0,"gpuTemp":0.0,"gpuUtil":0.000}\n'
# The desktop fixture: coretemp 52, 48 and 50.5; amdgpu up to 47; card0 7 % busy;
# with the fake NVML, its GPU 0 at 61 C and 5 % busy.
DESKTOP = '{"cpuTemp":52.0,"cpuTempAvg":50.2,"gpuTemp":61.0,"gpuUtil":0.070}\n'
DESKTOP_WITHOUT_NVML = '{"cpuTemp":52.0,"cpuTempAvg":50.2,"gpuTemp":47.0,"gpuUtil":0.070}\n'


def test_shipped_helper_starts_in_order_and_streams_lines(start):
    helper = start(HELPER)
    line = Client().line(timeout=4)
    assert LINE.match(line), line
    if LINUX:
        assert helper.messages()[:2] == [START, LISTENING]
        assert helper.messages()[2].startswith("[Helper] Client connected (fd=")
        first = helper.stderr().splitlines()[0]
        assert f" PelagrinHelper[{helper.pid}:" in first, "the NSLog-style prefix names the process"


def test_taken_port_ends_startup_with_status_one(start):
    with socket.socket() as blocker:
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        blocker.bind(("127.0.0.1", PORT))
        blocker.listen()
        helper = start(HELPER)
        assert helper.exit_code() == 1
    if LINUX:
        assert helper.messages() == [START, "[Helper] Failed to bind to port 27830 (already in use?)"]


def test_listens_on_ipv4_loopback_only(start):
    start(FAKE)
    assert Client().line() == ZERO
    for family, address in ((socket.AF_INET6, "::1"), (socket.AF_INET, "127.0.0.2")):
        with socket.socket(family) as other:
            other.settimeout(1)
            assert other.connect_ex((address, PORT)) != 0, address


def test_four_clients_fifth_turned_away_vanished_ones_dropped(start):
    helper = start(FAKE, env=COUNTING)
    clients = []
    for _ in range(4):
        clients.append(Client())
        clients[-1].line()
    assert Client().closed_without_data()
    for client in clients:
        assert consecutive(client.cycles(5))
    gone = {helper.fd_of(2), helper.fd_of(4)} if LINUX else set()
    clients[1].close()
    clients[3].close()
    # A peer's close shows only at a later send: the survivors miss no cycle meanwhile.
    for client in (clients[0], clients[2]):
        assert consecutive(client.cycles(20))
    Client().line()
    if LINUX:
        log = helper.messages()
        assert log[:6] == [START, LISTENING] + [f"[Helper] Client connected (fd={helper.fd_of(n)}, total={n})" for n in (1, 2, 3, 4)]
        assert log[6] == "[Helper] Rejected client \u2014 max connections reached"
        assert {int(m[33:-1]) for m in log[7:9]} == gone and all(m.startswith("[Helper] Client disconnected (fd=") for m in log[7:9])
        assert len(log) == 10 and log[9].startswith("[Helper] Client connected") and log[9].endswith(", total=3)")


def test_client_that_sends_data_keeps_its_slot(start):
    helper = start(FAKE, env=COUNTING)
    chatty = Client()
    for _ in range(10):
        chatty.sock.sendall(b"GET / HTTP/1.0\r\n\r\n{\"hello\":1}\n" * 20)
        assert consecutive(chatty.cycles(3))
    assert not any("disconnected" in message for message in helper.messages())


@linux_only
def test_stuck_client_is_dropped_while_others_keep_receiving(start):
    if not private_network("4096 4096 4096"):  # small send buffers fill in seconds, not hours
        pytest.skip("needs a network namespace")
    helper = start(FAKE, env=COUNTING)
    stuck = Client(rcvbuf=1024)
    assert helper.wait_log("total=1)")
    reader = Client()
    dropped = f"[Helper] Client disconnected (fd={helper.fd_of(1)})"
    cycles = []
    deadline = time.monotonic() + 30
    while dropped not in helper.messages() and time.monotonic() < deadline:
        cycles += reader.cycles(1, timeout=1)  # a cycle is 10 ms: a second without a line is a stall
    assert dropped in helper.messages()
    assert consecutive(cycles + reader.cycles(10))
    received = b""
    stuck.sock.settimeout(5)
    while data := stuck.sock.recv(65536):
        received += data
    whole = received.split(b"\n")[:-1]  # a fragment may end it; nothing may follow one
    assert whole and all(LINE.match(line.decode() + "\n") for line in whole)


@linux_only
@pytest.mark.skipif(os.environ.get("SANITIZED") == "1", reason="a preloaded library cannot come before a sanitizer")
def test_accept_thread_that_cannot_start_ends_startup(start):
    helper = start(HELPER, env={"LD_PRELOAD": os.environ["FAIL_THREAD_LIB"]})
    assert helper.exit_code() == 1
    assert helper.messages() == [START, LISTENING, "[Helper] Failed to start accept thread"]


@linux_only
def test_accept_failing_for_want_of_descriptors_does_not_spin(start):
    helper = start(FAKE, env=COUNTING)
    readers = [Client()]
    assert helper.wait_log("total=1)")
    limit = resource.prlimit(helper.pid, resource.RLIMIT_NOFILE)
    in_use = max(int(fd) for fd in os.listdir(f"/proc/{helper.pid}/fd")) + 1
    resource.prlimit(helper.pid, resource.RLIMIT_NOFILE, (in_use, limit[1]))
    # An accept already waiting reserved its descriptor before the limit fell.
    waiting = Client()
    if helper.wait_log("total=2)", 0.5):
        readers.append(waiting)
        waiting = Client()
    before = thread_ticks(helper.pid)
    for reader in readers:
        assert consecutive(reader.cycles(100))
    assert thread_ticks(helper.pid) - before <= 5, "the accept thread spun while accept kept failing"
    total = f"total={len(readers) + 1})"
    assert not helper.wait_log(total, 0)
    resource.prlimit(helper.pid, resource.RLIMIT_NOFILE, limit)
    assert helper.wait_log(total) and waiting.line()


def tree_env(root, nvml):
    return {"PELAGRIN_TEST_SYSFS": str(root), "PELAGRIN_TEST_NVML": os.environ.get(nvml, "/nonexistent")}


@linux_only
@pytest.mark.parametrize("nvml, line", [("FAKE_NVML", DESKTOP), ("FAKE_NVML_INIT_FAILS", DESKTOP_WITHOUT_NVML),
                                        ("FAKE_NVML_INCOMPLETE", DESKTOP_WITHOUT_NVML)])
def test_fixture_readings_reach_the_line_and_nvml_is_loaded_once(start, nvml, line):
    helper = start(TREE, env=tree_env(f"{FIXTURES}/desktop", nvml))
    client = Client()
    assert [client.line() for _ in range(20)] == [line] * 20
    assert helper.stderr().count("fake NVML loaded") == 1, "NVML starts once; a failed start is retried once a minute"
    with open(f"/proc/{helper.pid}/maps") as maps:
        assert (os.environ[nvml] in maps.read()) == (nvml == "FAKE_NVML"), "a library that cannot serve is unloaded"


@linux_only
def test_stream_keeps_pace_and_numbers_while_sensor_files_block_or_fail(start, tmp_path):
    healthy, faulty = tmp_path / "healthy/class", tmp_path / "faulty/class"
    for tree in (healthy, faulty):
        shutil.copytree(f"{FIXTURES}/desktop/class", tree, symlinks=True)
    writers = []
    for path, writer in (("hwmon/hwmon1/temp1_input", False), ("hwmon/hwmon10/temp3_input", True),
                         ("hwmon/hwmon10/device/power/runtime_status", False), ("hwmon/hwmon3", False),
                         ("drm/card0/device/gpu_busy_percent", True), ("drm/card1", False)):
        if (faulty / path).exists():
            os.remove(faulty / path)
        os.mkfifo(faulty / path)  # without O_NONBLOCK, an open or a read would wait for ever
        if writer:
            writers.append(os.open(faulty / path, os.O_RDWR | os.O_NONBLOCK))
    os.remove(faulty / "hwmon/hwmon1/temp2_input")
    os.mkdir(faulty / "hwmon/hwmon1/temp2_input")  # a read fails with EISDIR
    os.remove(faulty / "hwmon/hwmon10/temp2_input")
    os.symlink("/proc/self/mem", faulty / "hwmon/hwmon10/temp2_input")  # opens, then a read fails with EIO
    root = tmp_path / "root"
    root.mkdir()

    def point_at(tree):  # one rename, so every walk sees one tree or the other
        os.symlink(tree, root / "next")
        os.replace(root / "next", root / "class")

    point_at(healthy)
    helper = start(TREE, env=tree_env(root, "none"))
    client = Client()

    def follow(expected):
        for _ in range(100):
            line = client.line(timeout=1)
            assert line, "the stream stalled"
            if line == expected:
                assert [client.line(timeout=1) for _ in range(20)] == [expected] * 20
                return
        pytest.fail(f"never {expected}")

    follow(DESKTOP_WITHOUT_NVML)
    descriptors = len(os.listdir(f"/proc/{helper.pid}/fd"))
    point_at(faulty)
    follow('{"cpuTemp":50.5,"cpuTempAvg":50.5,"gpuTemp":45.0,"gpuUtil":0.000}\n')
    point_at(healthy)
    follow(DESKTOP_WITHOUT_NVML)
    assert len(os.listdir(f"/proc/{helper.pid}/fd")) == descriptors, "a failed read left a descriptor open"
    for fd in writers:
        os.close(fd)
