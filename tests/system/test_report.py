"""pelagrin-sensors over scripted platforms and sysfs trees against golden files, its line
against the helper's over the same sensors, and what it says of whatever holds the port."""

import functools, json, os, signal, socket, struct, subprocess, threading, time
from pathlib import Path

import pytest

from conftest import LINE, LINUX, PORT, Client, assert_golden, linux_only, until

FIXTURES = Path(os.environ.get("FIXTURES", "."))
ZEROS = '{"cpuTemp":0.0,"cpuTempAvg":0.0,"gpuTemp":0.0,"gpuUtil":0.000}\n'


def printed(tool, env, *options):
    result = subprocess.run([tool, *options], env={**os.environ, **env}, capture_output=True)
    assert result.returncode == 0, result.stderr
    assert result.stderr in (b"", b"fake NVML loaded\n")
    return result.stdout.decode()


def report_and_helper_agree(start, tool, helper, env, golden):
    report = printed(tool, env, "--json", "--no-helper")
    assert_golden(golden, report)
    helper = start(helper, env=env)
    client = Client()
    assert [client.line() for _ in range(10)] == [json.loads(report)["line"]] * 10
    return helper, client


@pytest.mark.parametrize(
    "script", sorted(FIXTURES.glob("scripted/*.script")), ids=lambda path: path.stem
)
def test_report_on_a_scripted_platform(start, script, tmp_path):
    sensors = tmp_path / "sensors"
    sensors.write_bytes(script.read_bytes())
    walks = tmp_path / "walks"
    env = {"PELAGRIN_SCRIPT": str(sensors), "PELAGRIN_WALK_LOG": str(walks)}
    if script.with_suffix(".txt").exists():
        shown = printed(os.environ["SCRIPTED_REPORT"], env, "--no-helper")
        assert_golden(script.with_suffix(".txt"), shown)
    golden = script.with_suffix(".json")
    _, client = report_and_helper_agree(
        start, os.environ["SCRIPTED_REPORT"], os.environ["FAKE_HELPER"], env, golden
    )
    before = len(walks.read_text())
    assert all(client.line() for _ in range(10))
    assert len(walks.read_text()) - before >= 27, "every reading takes a catalogue of its own"
    sensors.write_text("")  # the sensors go: nothing of them may stay
    assert until(lambda: client.line() == ZEROS)


@linux_only
@pytest.mark.parametrize(
    "tree, nvml, golden",
    [
        ("desktop", "FAKE_NVML", "report.json"),
        ("desktop", "FAKE_NVML_INIT_FAILS", "report-without-nvml.json"),
        ("desktop", "FAKE_NVML_INCOMPLETE", "report-without-nvml.json"),
        ("k10temp", None, "report.json"),
        ("other-chips", None, "report.json"),  # zenpower, radeon, i915 and xe
        ("suspended-dgpu", "FAKE_NVML", "report.json"),
        ("no-hwmon", None, "report.json"),
        ("suspended-dgpu", "FAKE_NVML_WITHOUT_PCI_INFO", "report-without-pci-info.json"),
    ],
)
def test_report_on_a_sysfs_tree(start, tree, nvml, golden):
    env = {
        "PELAGRIN_TEST_SYSFS": str(FIXTURES / tree),
        "PELAGRIN_TEST_NVML": os.environ.get(nvml or "", "/none"),
    }
    tool = os.environ["TREE_REPORT"]
    helper, _ = report_and_helper_agree(
        start, tool, os.environ["TREE_HELPER"], env, FIXTURES / tree / golden
    )
    # NVML starts once a process, a failed start is retried at most once a minute, and a library
    # that cannot serve is unloaded.
    assert helper.stderr().count("fake NVML loaded") == (nvml is not None)
    maps = Path(f"/proc/{helper.pid}/maps").read_text()
    loaded = nvml is not None and os.environ[nvml] in maps
    assert loaded == (nvml in ("FAKE_NVML", "FAKE_NVML_WITHOUT_PCI_INFO"))
    if tree == "desktop" and nvml == "FAKE_NVML":
        assert_golden(FIXTURES / tree / "report.txt", printed(tool, env, "--no-helper"))


def test_help_and_a_mistyped_option():
    for option in ("-h", "--help"):
        shown = subprocess.run([os.environ["REPORT"], option], capture_output=True, text=True)
        assert (shown.returncode, shown.stdout[:24]) == (0, "usage: pelagrin-sensors ")
    wrong = subprocess.run([os.environ["REPORT"], "--jsn"], capture_output=True, text=True)
    assert (wrong.returncode, wrong.stdout) == (2, "")
    assert wrong.stderr.startswith('pelagrin-sensors: unknown option "--jsn"\nusage:')


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="no /dev/full here (macOS has none)")
def test_a_full_disk_is_an_error():
    command = [os.environ["REPORT"], "--json"]
    with open("/dev/full", "w") as full:
        result = subprocess.run(command, stdout=full, stderr=subprocess.PIPE, text=True)
    error = "pelagrin-sensors: write error: No space left on device\n"
    assert (result.returncode, result.stderr) == (1, error)


def test_a_reader_that_went_away_ends_it_quietly():
    read_end, write_end = os.pipe()
    os.close(read_end)
    command = [os.environ["REPORT"], "--json"]
    result = subprocess.run(command, stdout=write_end, stderr=subprocess.PIPE, text=True)
    os.close(write_end)
    assert (result.returncode, result.stderr) == (-signal.SIGPIPE, "")


# What stands on 127.0.0.1:27830 for each state; each returns what must stay open.
def nothing(start):
    return None


def a_helper(start):
    start(os.environ["TIMED_HELPER"])
    return Client()  # once it listens


def the_helper_and_four_silent_clients(start):
    start(os.environ["FAKE_HELPER"])
    return [Client() for _ in range(4)]


def a_listener_that_never_writes(start):
    return socket.create_server(("127.0.0.1", PORT))


def a_listener_that_writes(data, start):
    listener = socket.create_server(("127.0.0.1", PORT))
    threading.Thread(target=answer_twice, args=(listener, data), daemon=True).start()
    return listener


def answer_twice(listener, data):
    for _ in range(2):  # the JSON form, then the text
        connection, _ = listener.accept()
        if data is None:  # a reset
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            connection.sendall(data)
            connection.recv(1)  # open until the tool hangs up
        connection.close()


def a_listener_whose_queue_is_full(start):
    listener = socket.create_server(("127.0.0.1", PORT), backlog=0)
    queued = [socket.socket() for _ in range(3)]  # more than it queues
    for waiting in queued:
        waiting.setblocking(False)
        waiting.connect_ex(("127.0.0.1", PORT))
    return listener, queued


GARBAGE = b"\x1b[2J\xc2\x9b31mHTTP/1.1 400 Bad Request\r\n"
LOOK_ALIKE = b'{"cpuTemp":50,"cpuTempAvg":50,"gpuTemp":40,"gpuUtil":0.5}\n'
NOT_A_FIGURE = b'{"cpuTemp":nan,"cpuTempAvg":-1.0,"gpuTemp":4.0,"gpuUtil":0.500}\n'
HELPERS_LINE = b'{"cpuTemp":52.3,"cpuTempAvg":47.9,"gpuTemp":41.0,"gpuUtil":0.370}\n'
THIS_PROCESS = (
    Path("/proc/self/comm").read_text().strip() if LINUX else "",
    os.getpid(),
    os.getuid(),
)


@pytest.mark.parametrize(
    "state, detail, on_the_port",
    [
        ("serving", "sent its telemetry line", a_helper),
        ("not running", "nothing listens on 127.0.0.1:27830", nothing),
        ("full", "the helper already serves four clients", the_helper_and_four_silent_clients),
        ("silent", "connected, but no line within 2.5 s", a_listener_that_never_writes),
        ("reset", "the connection was reset", functools.partial(a_listener_that_writes, None)),
        (
            "not accepted",
            "the connection was not accepted within 2.5 s",
            a_listener_whose_queue_is_full,
        ),
        (
            "not the helper",
            'sent "\\u001b[2J\\u009b31mHTTP/1.1 400 Bad Request\\u000d\\n"',
            functools.partial(a_listener_that_writes, GARBAGE),
        ),
        (
            "not the helper",
            f"sent {json.dumps(LOOK_ALIKE.decode())}",
            functools.partial(a_listener_that_writes, LOOK_ALIKE),
        ),
        (
            "not the helper",
            f"sent {json.dumps(NOT_A_FIGURE.decode())}",
            functools.partial(a_listener_that_writes, NOT_A_FIGURE),
        ),
        pytest.param(
            "not the helper",
            "sent the helper's line, but the port is held by {} (pid {}) of this user (uid {})".format(
                *THIS_PROCESS
            ),
            functools.partial(a_listener_that_writes, HELPERS_LINE),
            marks=linux_only,  # where this process's short name can be read
        ),
    ],
)
def test_the_helper_section_names_what_answers_on_the_port(start, state, detail, on_the_port):
    kept_open = on_the_port(start)
    # Timed over scripted sensors: the machine's own may take seconds (NVML's first start).
    report = os.environ["SCRIPTED_REPORT"]
    sensors = {"PELAGRIN_SCRIPT": str(FIXTURES / "scripted/no-sensors.script")}
    began = time.monotonic()
    helper = json.loads(printed(report, sensors, "--json"))["helper"]
    assert time.monotonic() - began < 3.5, "it waits one cycle and a margin, no more"
    assert (helper["state"], helper["detail"]) == (state, detail)
    assert LINE.match(helper["line"] or "") if state == "serving" else helper["line"] is None
    assert (helper["holder"] is None) == (state == "not running")
    if state == "serving":
        assert helper["holder"]["program"] == "PelagrinHelper"
    text = printed(report, sensors)
    assert f"\nHelper on 127.0.0.1:27830\n  {state}: {detail}\n" in text
    began = time.monotonic()  # --no-helper leaves the port alone, silent or not
    text = printed(report, sensors, "--no-helper")
    assert time.monotonic() - began < 1.0 and "Helper" not in text
