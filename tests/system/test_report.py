"""pelagrin-sensors over scripted platforms and sysfs fixture trees: its report
against a golden file for each (PELAGRIN_BLESS=1 rewrites them), and its line
against the one the helper sends over the same sensors, byte for byte; and what
it says of whatever answers on the helper's port."""
import json, os, signal, socket, subprocess, threading, time
from pathlib import Path
from typing import Callable, NamedTuple

import pytest

from conftest import LINE, PORT, Client, linux_only, until

FIXTURES = Path(os.environ.get("FIXTURES", "."))


class Tree(NamedTuple):
    tree: str
    nvml: str | None  # the variable naming the fake NVML build, or none
    golden: str


TREES = [
    Tree("desktop", "FAKE_NVML", "report.json"),
    Tree("desktop", "FAKE_NVML_INIT_FAILS", "report-without-nvml.json"),
    Tree("desktop", "FAKE_NVML_INCOMPLETE", "report-without-nvml.json"),
    Tree("k10temp", None, "report.json"),
    Tree("suspended-dgpu", "FAKE_NVML", "report.json"),
    Tree("no-hwmon", None, "report.json"),
    Tree("suspended-dgpu", "FAKE_NVML_WITHOUT_PCI_INFO", "report-without-pci-info.json"),
]


class WriteFailure(NamedTuple):
    stdout: str
    returncode: int
    stderr: str


# A full disk is an error; a reader that went away ends the tool quietly, by SIGPIPE.
WRITE_FAILURES = [
    WriteFailure("/dev/full", 1, "pelagrin-sensors: write error: No space left on device\n"),
    WriteFailure("a closed pipe", -signal.SIGPIPE, ""),
]


def printed(tool, env, *options):
    result = subprocess.run(
        [tool, *options], env={**os.environ, **env}, capture_output=True, text=True
    )
    assert result.returncode == 0 and result.stderr in ("", "fake NVML loaded\n"), result.stderr
    return result.stdout


def matches(golden, text):
    if os.environ.get("PELAGRIN_BLESS"):
        golden.write_text(text)  # then read the diff before keeping it
    return text == golden.read_text()


def report_and_helper_agree(start, tool, helper, env, golden):
    report = printed(tool, env, "--json", "--no-helper")
    assert matches(golden, report)
    helper, client = start(helper, env=env), Client()
    assert [client.line() for _ in range(10)] == [json.loads(report)["line"]] * 10
    return helper, client


@pytest.mark.parametrize(
    "script", sorted(FIXTURES.glob("scripted/*.script")), ids=lambda path: path.stem
)
def test_report_on_a_scripted_platform(start, script, tmp_path):
    walks, sensors = tmp_path / "walks", tmp_path / "sensors"
    sensors.write_bytes(script.read_bytes())
    env = {"PELAGRIN_SCRIPT": str(sensors), "PELAGRIN_WALK_LOG": str(walks)}
    _, client = report_and_helper_agree(
        start,
        os.environ["SCRIPTED_REPORT"],
        os.environ["FAKE_HELPER"],
        env,
        script.with_suffix(".json"),
    )
    before = len(walks.read_text())
    assert all(client.line() for _ in range(10))
    assert 27 <= len(walks.read_text()) - before <= 36, "every reading takes a catalogue of its own"
    sensors.write_text("")  # the sensors go: nothing of them may stay
    assert until(
        lambda: client.line() == '{"cpuTemp":0.0,"cpuTempAvg":0.0,"gpuTemp":0.0,"gpuUtil":0.000}\n'
    )


@linux_only
@pytest.mark.parametrize(
    "tree, nvml, golden", TREES, ids=[f"{case.tree}-{case.nvml}" for case in TREES]
)
def test_report_on_a_sysfs_tree(start, tree, nvml, golden):
    env = {
        "PELAGRIN_TEST_SYSFS": str(FIXTURES / tree),
        "PELAGRIN_TEST_NVML": os.environ.get(nvml or "", "/none"),
    }
    helper, _ = report_and_helper_agree(
        start, os.environ["TREE_REPORT"], os.environ["TREE_HELPER"], env, FIXTURES / tree / golden
    )
    # NVML starts once a process, a failed start is retried at most once a minute, and a library that
    # cannot serve is unloaded.
    assert helper.stderr().count("fake NVML loaded") == (nvml is not None)
    with open(f"/proc/{helper.pid}/maps") as maps:
        assert (nvml is not None and os.environ[nvml] in maps.read()) == (
            nvml in ("FAKE_NVML", "FAKE_NVML_WITHOUT_PCI_INFO")
        )
    if tree == "desktop" and nvml == "FAKE_NVML":
        assert matches(
            FIXTURES / tree / "report.txt", printed(os.environ["TREE_REPORT"], env, "--no-helper")
        )


def test_usage_and_options():
    tool = os.environ["REPORT"]
    assert subprocess.run([tool, "--help"], capture_output=True, text=True).stdout.startswith(
        "usage: pelagrin-sensors"
    )
    wrong = subprocess.run([tool, "--jsn"], capture_output=True, text=True)
    assert (
        wrong.returncode == 2
        and wrong.stdout == ""
        and 'unknown option "--jsn"\nusage:' in wrong.stderr
    )


def opened_for_writing(target):
    if target == "/dev/full":
        return os.open(target, os.O_WRONLY)
    read_end, write_end = os.pipe()
    os.close(read_end)
    return write_end


@pytest.mark.parametrize("failure", WRITE_FAILURES, ids=[case.stdout for case in WRITE_FAILURES])
def test_a_failed_write_is_an_error_and_a_closed_pipe_is_not(failure):
    stdout = opened_for_writing(failure.stdout)
    result = subprocess.run([os.environ["REPORT"], "--json"], stdout=stdout, stderr=subprocess.PIPE)
    os.close(stdout)
    assert (result.returncode, result.stderr.decode()) == (failure.returncode, failure.stderr)


# What stands on 127.0.0.1:27830 for each state; each returns what must stay open.
def nothing(start):
    return None


def the_shipped_helper(start):
    start(os.environ["HELPER"])
    return Client()  # once it listens


def the_helper_and_four_silent_clients(start):
    start(os.environ["FAKE_HELPER"])
    return [Client() for _ in range(4)]


def a_listener_that_never_writes(start):
    return socket.create_server(("127.0.0.1", PORT))


def a_listener_that_writes_garbage(start):
    listener = socket.create_server(("127.0.0.1", PORT))
    threading.Thread(target=answer_twice_with_garbage, args=(listener,), daemon=True).start()
    return listener


def answer_twice_with_garbage(listener):
    for _ in range(2):  # the JSON form, then the text
        connection, _ = listener.accept()
        connection.sendall(b"\x1b[2J\xc2\x9b31mHTTP/1.1 400 Bad Request\r\n")
        connection.recv(1)  # open until the tool hangs up
        connection.close()


class HelperCase(NamedTuple):
    state: str
    detail: str
    on_the_port: Callable


HELPER_CASES = [
    HelperCase("serving", "sent its telemetry line", the_shipped_helper),
    HelperCase("not running", "nothing listens on 127.0.0.1:27830", nothing),
    HelperCase(
        "full", "the helper already serves four clients", the_helper_and_four_silent_clients
    ),
    HelperCase("silent", "connected, but no line within 2.5 s", a_listener_that_never_writes),
    HelperCase(
        "not the helper",
        'sent "\\u001b[2J\\u009b31mHTTP/1.1 400 Bad Request\\u000d\\n"',
        a_listener_that_writes_garbage,
    ),
]


@pytest.mark.parametrize("case", HELPER_CASES, ids=[case.state for case in HELPER_CASES])
def test_the_helper_section_names_what_answers_on_the_port(start, case):
    kept_open = case.on_the_port(start)
    helper = json.loads(printed(os.environ["REPORT"], {}, "--json"))["helper"]
    text = printed(os.environ["REPORT"], {})
    assert (helper["state"], helper["detail"]) == (case.state, case.detail)
    assert LINE.match(helper["line"] or "") if case.state == "serving" else helper["line"] is None
    assert f"\nHelper on 127.0.0.1:27830\n  {case.state}: {case.detail}\n" in text
    assert "\x1b" not in text and "\x9b" not in text


def test_without_the_helper_check_the_tool_returns_at_once():
    listener = a_listener_that_never_writes(None)  # which would hold the check for 2.5 s
    began = time.monotonic()
    text = printed(os.environ["REPORT"], {}, "--no-helper")
    assert time.monotonic() - began < 1.0 and "Helper" not in text
