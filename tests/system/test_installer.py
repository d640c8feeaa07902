"""The Linux installer as a user runs it in a home named HOME, where killall and setsid are a
stub that logs its arguments, then fails, hangs or runs the real program."""

import contextlib, json, os, shutil, subprocess, time
from collections import namedtuple
from pathlib import Path

import pytest

from conftest import Client, assert_golden, until

pytestmark = pytest.mark.skipif(
    os.environ.get("PELAGRIN_ISOLATED") != "1",
    reason="run through ctest, which gives it namespaces of its own",
)
STUB = """#!/bin/sh
name=${0##*/}
{ printf %s "$name"; for argument in "$@"; do printf ' [%s]' "$argument"; done; echo; } >> "$STUB_LOG"
ls /proc/$$/fd >> "$STUB_LOG.fds"
echo "noise from $name"; echo "noise from $name" >&2
case " $STUB_HANG " in *" $name "*) sleep 0.5; kill -9 $$;; esac
eval "status=\\${STUB_EXIT_$name-}"; [ -n "$status" ] && exit "$status"
[ -z "$STUB_REAL" ] || exec "$STUB_REAL/$name" "$@"
"""
PROGRAM = "PelagrinHelper.app/Contents/MacOS/PelagrinHelper"
HOME = 'Tom & "Jerry" `$HOME` \\ 100%'  # every character the agent files must escape
# An ordinary user: uid 1000 in a user namespace over the sandbox's only one.
AS_A_USER = ["unshare", "--map-user=1000", "--map-group=1000", "--"]
FIXTURES = Path(__file__).parents[1] / "fixtures/installer"
CASES = json.loads((FIXTURES / "terminal-cases.json").read_text())


Alert = namedtuple("Alert", "title text")
InstallFault = namedtuple("InstallFault", "name setup at options text")
Uninstall = namedtuple("Uninstall", "name installed locks title text left")


INSTALLED = Alert(**CASES["installed"])
UNINSTALLED = Alert(**CASES["uninstalled"])


def records(section, record):
    return [pytest.param(record(**row), id=row["name"]) for row in CASES[section]]


@pytest.fixture(scope="session")
def stubs(tmp_path_factory):
    folder = tmp_path_factory.mktemp("stubs")
    stub = folder / "stub"
    stub.write_text(STUB)
    stub.chmod(0o755)
    for program in ("killall", "setsid"):
        shutil.copy(f"/usr/bin/{program}", folder)
        subprocess.run(["mount", "--bind", stub, f"/usr/bin/{program}"], check=True)
    return folder


class Sandbox:
    def __init__(self, root, stubs):
        self.root = root
        self.stubs = stubs
        self.home = root / HOME
        self.home.mkdir()
        self.log = root / "commands"
        self.log.write_text("")
        shutil.copytree(os.environ["INSTALLER_BUNDLE"], root / "HelperInstaller.app", symlinks=True)
        self.resources = root / "HelperInstaller.app/Contents/Resources"
        self.install_dir = self.home / ".local/share/Pelagrin"
        self.autostart = self.home / ".config/autostart"
        self.agent = self.autostart / "app.pelagrin.helper.desktop"
        self.canary = os.open(root, os.O_RDONLY)  # the installer's own, none of its commands'

    def place(self, text):
        return text.format(**vars(self))

    def run(self, answers, real=False, **stub):
        """What the installer showed when these answers were typed."""
        real_programs = self.stubs if real else ""
        env = dict(os.environ, HOME=self.home, STUB_LOG=self.log, **stub)
        env["STUB_REAL"] = real_programs
        installer = self.root / "HelperInstaller.app/Contents/MacOS/HelperInstaller"
        options = dict(capture_output=True, text=True, timeout=60, pass_fds=(self.canary,))
        result = subprocess.run([*AS_A_USER, installer], input=answers, env=env, **options)
        assert result.returncode == 0, result.stderr
        assert not result.stderr
        assert "noise from" not in result.stdout, "a command's output reached the terminal"
        return result.stdout

    def install(self, **stub):
        return last_alert(self.run("Install\n\n", **stub))

    def uninstall(self, **stub):
        return last_alert(self.run("Uninstall\nUninstall\n\n", **stub))

    def commands(self):
        return self.log.read_text().splitlines()

    def listing(self, folder=None):
        """Every entry under a folder, the home by default."""
        folder = folder or self.home
        return sorted(str(path.relative_to(folder)) for path in folder.rglob("*"))


@pytest.fixture
def sandbox(tmp_path, stubs):
    sandbox = Sandbox(tmp_path, stubs)
    yield sandbox
    subprocess.run([stubs / "killall", "-q", "-KILL", "PelagrinHelper"])
    os.close(sandbox.canary)


def last_alert(shown):
    """The last dialog shown: a result, closed by its lone button."""
    dialog = shown.rsplit("\n[", 1)[1].split("] ", 1)[1]
    title, body = dialog.split("\n\n", 1)
    text, button = body.rsplit("\n\n  1. ", 1)
    assert button == "OK\nPress Enter to close. "
    return Alert(title, text)


@pytest.mark.port
def test_install_reinstall_and_uninstall_through_the_terminal(sandbox):
    shown = sandbox.run("2\n4\nmaybe\n  install \n\n", real=True)
    assert_golden(FIXTURES / "install-through-the-terminal.expected", shown)
    assert subprocess.run(["desktop-file-validate", sandbox.agent]).returncode == 0
    exec_home = rf'Tom & \\"Jerry\\" \\`\\$HOME\\` \\\\ 100%%'  # Exec quoting, then escaping of \
    exec_line = rf'Exec="{sandbox.root}/{exec_home}/.local/share/Pelagrin/{PROGRAM}"' + "\n"
    assert exec_line in sandbox.agent.read_text()
    started = f"setsid [-f] [{sandbox.install_dir}/{PROGRAM}]"
    assert sandbox.commands() == ["killall [PelagrinHelper]", started]
    descriptors = sandbox.log.with_suffix(".fds").read_text().split()
    assert str(sandbox.canary) not in descriptors, "the installer's descriptor leaked"
    first = Client(timeout=5)  # the helper runs
    assert first.line(timeout=4)
    (sandbox.install_dir / "PelagrinHelper.app/old-only.txt").write_text("old")
    assert last_alert(sandbox.run("1\n\n", real=True)) == INSTALLED
    assert until(lambda: first.line(timeout=3) is None, 10), "the old helper stops"
    assert Client(timeout=5).line(timeout=4), "a new helper in its place"
    assert not (sandbox.install_dir / "PelagrinHelper.app/old-only.txt").exists()
    assert last_alert(sandbox.run("UNINSTALL\n1\n\n", real=True)) == UNINSTALLED
    find_helper = ["pgrep", "-x", "-r", "R,S,D", "PelagrinHelper"]
    assert until(lambda: subprocess.run(find_helper).returncode == 1), "the helper stops"


@pytest.mark.parametrize("installed, answers, dialogs", CASES["cancelled"])
def test_cancel_or_the_end_of_input_changes_nothing(sandbox, installed, answers, dialogs):
    put_file(sandbox.install_dir / installed)  # the last: an agent file alone is no helper
    before = sandbox.listing()
    assert sandbox.run(answers).count("\n[") == dialogs, "no alert after a cancel"
    assert sandbox.listing() == before
    assert sandbox.commands() == []


@pytest.mark.parametrize("stub, status, seconds", CASES["start statuses"])
def test_the_start_status_is_reported_and_a_command_is_waited_for_however_long_it_takes(
    sandbox, stub, status, seconds
):
    stub_program = sandbox.stubs / "stub"
    if status == 127:
        stub_program.chmod(0o644)  # then no command can start
    started = time.monotonic()
    try:
        alert = sandbox.install(**stub)
    finally:
        stub_program.chmod(0o755)
    assert time.monotonic() - started >= seconds, "the grace after killall, then any hang"
    failed = Alert("Installation Failed", CASES["start failed"].format(status=status))
    assert alert == (failed if status else INSTALLED)


@pytest.mark.parametrize("case", records("uninstalls", Uninstall))
def test_an_uninstall_that_leaves_something_behind_says_what_and_why(sandbox, case):
    for installed in case.installed:
        put_file(Path(sandbox.place(installed)))
    for locked, mode in case.locks.items():
        Path(sandbox.place(locked)).chmod(int(mode, 8))
    assert sandbox.uninstall() == Alert(case.title, sandbox.place(case.text))
    assert sandbox.listing() == case.left


def put_file(path, options=None):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("mine")


def remove(path, options):
    path.unlink()


def put_folder(path, options):
    path.unlink()
    path.mkdir()


def fill_tmpfs(folder, options):
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder], check=True)
    with contextlib.suppress(OSError):  # until no block or no inode is left
        for n in range(100000):
            (folder / f"filler-{n}").write_bytes(bytes(1024))


SETUPS = {"file": put_file, "gone": remove, "folder": put_folder, "full tmpfs": fill_tmpfs}


@pytest.mark.parametrize("fault", records("install faults", InstallFault))
def test_a_failed_step_is_reported_and_leaves_no_half_done_mess(sandbox, fault):
    SETUPS[fault.setup](Path(sandbox.place(fault.at)), fault.options)
    agent_folder = sandbox.listing(sandbox.autostart)
    assert sandbox.install() == Alert("Installation Failed", sandbox.place(fault.text))
    assert sandbox.listing(sandbox.autostart) == agent_folder, "an agent file was left"


def test_a_home_no_agent_file_can_name_is_refused_and_what_was_done_stays(sandbox):
    sandbox.home = sandbox.root / os.fsdecode("Latín-1".encode("latin-1"))  # not UTF-8
    sandbox.home.mkdir()
    text = "Failed to install LaunchAgent:\nThe install folder's path is not valid UTF-8 text."
    assert sandbox.install() == Alert("Installation Failed", text)
    # Where the installer looked: the helper placed first stays, and no agent folder was made.
    assert (sandbox.home / ".local/share/Pelagrin" / PROGRAM).exists()
    assert not (sandbox.home / ".config").exists()
