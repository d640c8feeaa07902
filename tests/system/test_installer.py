"""The Linux installer as a user runs it in a home named HOME, with the real programs it runs:
pkill, pgrep, setsid and the helper itself."""

import contextlib, json, os, pty, shlex, shutil, socket, stat, subprocess, tempfile, threading
from collections import namedtuple
from pathlib import Path

import pytest

from conftest import Client, PORT, assert_golden, until


def own_pid_namespace():
    """pid 1 of a PID namespace whose /proc is its own: pkill and pgrep see only its processes."""
    return os.getpid() == 1 and os.readlink("/proc/self") == "1"


# On the machine itself, the installer's pkill and this file's would reach every user's helper.
pytestmark = pytest.mark.skipif(
    os.environ.get("PELAGRIN_ISOLATED") != "1" or not own_pid_namespace(),
    reason="refused outside a PID namespace of its own, where pkill would reach the machine's "
    "helpers: run it through ctest",
)
PROGRAM = "PelagrinHelper.app/Contents/MacOS/PelagrinHelper"
HOME = 'Tom & "Jerry" `$HOME` \\ 100%'  # every character the agent files must escape
# An ordinary user: uid 1000 in a user namespace of its own, over the sandbox's root.
AS_A_USER = ["unshare", "--map-user=1000", "--map-group=1000", "--"]
OTHER_USER = ["setpriv", "--reuid=1001", "--regid=1001", "--clear-groups", "--"]
FIXTURES = Path(__file__).parents[1] / "fixtures/installer"
CASES = json.loads((FIXTURES / "terminal-cases.json").read_text())
TEXT = dict(capture_output=True, text=True, timeout=60)


Alert = namedtuple("Alert", "title text")
Cancelled = namedtuple("Cancelled", "name installed arguments answers dialogs status")
Unserved = namedtuple("Unserved", "name setup text")
InstallFault = namedtuple("InstallFault", "name setup at options text")
Uninstall = namedtuple("Uninstall", "name installed locks title text left")
FailedReinstall = namedtuple("FailedReinstall", "name full size text")


INSTALLED = Alert(**CASES["installed"])
UNINSTALLED = Alert(**CASES["uninstalled"])


def records(section, record):
    return [pytest.param(record(**row), id=row["name"]) for row in CASES[section]]


@pytest.fixture(scope="session", autouse=True)
def init_reaps_orphans():
    """As pid 1 of its namespace this session would leave each helper that setsid orphans a zombie,
    which pgrep still finds; so pid 1 reaps, as an init does, and the session goes on in a child."""
    session = os.fork() if os.getpid() == 1 else 0
    while session:
        pid, status = os.wait()
        if pid == session:
            os._exit(os.waitstatus_to_exitcode(status))


class Sandbox:
    def __init__(self, root):
        self.root = root
        self.home = root / HOME
        self.home.mkdir()
        shutil.copytree(os.environ["INSTALLER_BUNDLE"], root / "HelperInstaller.app", symlinks=True)
        self.resources = root / "HelperInstaller.app/Contents/Resources"
        self.installer = root / "HelperInstaller.app/Contents/MacOS/HelperInstaller"
        self.install_dir = self.home / ".local/share/Pelagrin"
        self.autostart = self.home / ".config/autostart"
        self.agent = self.autostart / "app.pelagrin.helper.desktop"
        self.canary = os.open(root, os.O_RDONLY)  # the installer's own, none of its commands'

    def place(self, text):
        return text.format(**vars(self))

    def run(self, answers, status=0, arguments=(), as_user=AS_A_USER, stdin=None):
        """What the installer showed when these answers were piped in, or typed at the terminal
        that is `stdin`; it must end with `status`."""
        env = dict(os.environ, HOME=self.home)
        options = dict(capture_output=True, text=True, timeout=60, pass_fds=(self.canary,))
        command = [*as_user, self.installer, *arguments]
        feed = dict(stdin=stdin) if stdin is not None else dict(input=answers)
        result = subprocess.run(command, env=env, **feed, **options)
        assert result.returncode == status, result.stdout
        assert not result.stderr, "the helper's log, or a command's, reached the terminal"
        return result.stdout

    def typed(self, answers):
        """What the installer showed when these answers were typed at a terminal."""
        terminal, typist = pty.openpty()
        os.write(typist, answers.encode(errors="surrogateescape"))
        try:
            return self.run(None, stdin=terminal)
        finally:
            os.close(terminal)
            os.close(typist)

    def install(self, status=0, **options):
        return printed_alert(self.run("", status, ["--install"], **options))

    def uninstall(self, status=0, **options):
        return printed_alert(self.run("", status, ["--uninstall"], **options))

    def listing(self, folder=None):
        """Every entry under a folder, the home by default."""
        folder = folder or self.home
        return sorted(str(path.relative_to(folder)) for path in folder.rglob("*"))


@pytest.fixture
def sandbox(tmp_path):
    sandbox = Sandbox(tmp_path)
    yield sandbox
    subprocess.run(["pkill", "-KILL", "-x", "PelagrinHelper"])
    os.close(sandbox.canary)


def printed_alert(shown):
    """The one alert an option's run prints: its outcome."""
    title, text = shown.split("] ", 1)[1].split("\n\n", 1)
    return Alert(title, text.removesuffix("\n\n"))


def last_alert(shown):
    """The last dialog shown: a result, closed by its lone button."""
    dialog = shown.rsplit("\n[", 1)[1].split("] ", 1)[1]
    title, body = dialog.split("\n\n", 1)
    text, button = body.rsplit("\n\n  1. ", 1)
    assert button == "OK\nPress Enter to close. "
    return Alert(title, text)


def helpers(*options):
    """The pids of the running helpers that pgrep finds with these options."""
    found = subprocess.run(
        ["pgrep", *options, "-x", "PelagrinHelper"], capture_output=True, text=True
    )
    return found.stdout.split()


@contextlib.contextmanager
def cannot_run(program, folder):
    """While the block runs, `program` is a file that cannot be run, in this mount namespace only."""
    blocker = folder / "not-a-program"
    blocker.write_text("")
    subprocess.run(["mount", "--bind", blocker, program], check=True)
    try:
        yield
    finally:
        subprocess.run(["umount", program], check=True)


@pytest.mark.port
def test_install_reinstall_and_uninstall_through_the_terminal(sandbox):
    shown = sandbox.typed("2\n4\n\x1b]0;title\x07\x1b[2J\u009b\udcff\n  install \n\n")
    assert_golden(FIXTURES / "install-through-the-terminal.expected", shown)
    assert subprocess.run(["desktop-file-validate", sandbox.agent]).returncode == 0
    exec_home = rf'Tom & \\"Jerry\\" \\`\\$HOME\\` \\\\ 100%%'  # Exec quoting, then escaping of \
    exec_line = rf'Exec="{sandbox.root}/{exec_home}/.local/share/Pelagrin/{PROGRAM}"' + "\n"
    assert exec_line in sandbox.agent.read_text()
    assert stat.S_IMODE(sandbox.agent.stat().st_mode) == 0o644, "only its user may change it"
    [helper] = helpers()
    assert os.readlink(f"/proc/{helper}/exe") == str(sandbox.install_dir / PROGRAM)
    descriptors = [
        os.readlink(f"/proc/{helper}/fd/{fd}") for fd in os.listdir(f"/proc/{helper}/fd")
    ]
    assert descriptors[0] == "/dev/null" and str(sandbox.root) not in descriptors
    assert os.readlink(f"/proc/{helper}/cwd") == "/" and os.getsid(int(helper)) == int(helper)
    first = Client(timeout=5)
    assert first.line(timeout=4)
    (sandbox.install_dir / "PelagrinHelper.app/old-only.txt").write_text("old")
    piped = (
        f"yes 1 | {shlex.quote(str(sandbox.installer))}"  # ends only once nothing holds the pipe
    )
    shown = subprocess.run(piped, shell=True, env=dict(os.environ, HOME=sandbox.home), **TEXT)
    assert last_alert(shown.stdout) == INSTALLED
    assert first.line(timeout=3) is None, "the old helper stopped"
    [new] = helpers()
    assert new != helper, "a new helper in its place"
    assert not (sandbox.install_dir / "PelagrinHelper.app/old-only.txt").exists()
    assert last_alert(sandbox.run("UNINSTALL\n1\n\n")) == UNINSTALLED
    assert helpers() == [], "stopped by the time it says so"


@pytest.mark.parametrize("case", records("cancelled", Cancelled))
def test_cancel_the_end_of_input_help_or_a_stray_answer_changes_nothing(sandbox, case):
    put_file(sandbox.install_dir / case.installed)  # the last: an agent file alone is no helper
    before = sandbox.listing()
    shown = sandbox.run(case.answers, case.status, case.arguments)
    assert shown.count("\n[") == case.dialogs, "no alert after a cancel"
    assert sandbox.listing() == before


def test_an_endless_answer_line_ends_the_run_at_once(sandbox):
    with open("/dev/zero") as endless:
        shown = sandbox.run(None, 2, stdin=endless)
    assert shown.count("\n[") == 1


def answer_once(listener):
    connection, _ = listener.accept()
    connection.sendall(b"SSH-2.0-OpenSSH\x1b[2J\r\n")
    connection.close()


@contextlib.contextmanager
def another_program_answers(sandbox):
    with socket.create_server(("127.0.0.1", PORT)) as listener:
        answer = threading.Thread(target=answer_once, args=(listener,))
        answer.start()
        yield
        answer.join()


@contextlib.contextmanager
def noexec_home(sandbox):
    subprocess.run(["mount", "-t", "tmpfs", "-o", "noexec", "tmpfs", sandbox.home], check=True)
    yield


def setsid_cannot_run(sandbox):
    return cannot_run("/usr/bin/setsid", sandbox.root)


UNSERVED_SETUPS = {
    "another program": another_program_answers,
    "noexec home": noexec_home,
    "setsid cannot run": setsid_cannot_run,
}


@pytest.mark.port
@pytest.mark.parametrize("case", records("unserved", Unserved))
def test_a_helper_that_does_not_serve_is_reported_as_such(sandbox, case):
    with UNSERVED_SETUPS[case.setup](sandbox):
        assert sandbox.install(status=1) == Alert("Installation Failed", case.text)
        assert until(lambda: helpers() == []), "no helper of the install runs"
    assert (sandbox.install_dir / PROGRAM).exists(), "installed all the same"
    assert sandbox.agent.exists()


@pytest.mark.port
def test_a_stop_that_cannot_run_is_an_error_and_nothing_starts_over_the_old_helper(sandbox):
    assert sandbox.install() == INSTALLED
    [helper] = helpers()
    failed = "Could not stop the running helper: /usr/bin/pkill could not be run."
    with cannot_run("/usr/bin/pkill", sandbox.root):
        assert sandbox.uninstall(status=1) == Alert("Uninstall Failed", failed)
        assert sandbox.install(status=1) == Alert("Installation Failed", failed)
    assert helpers() == [helper]
    assert Client(timeout=5).line(timeout=4), "the old helper still serves"


@pytest.mark.port
def test_another_users_helper_survives_this_users_install_and_uninstall(sandbox):
    if subprocess.run([*OTHER_USER, "true"]).returncode != 0:
        pytest.skip("a second uid needs a sandbox that maps several: run the tests as root")
    with tempfile.TemporaryDirectory() as folder:
        Path(folder).chmod(0o755)
        shutil.copy(os.environ["HELPER"], folder)
        other = subprocess.Popen(
            [*OTHER_USER, f"{folder}/PelagrinHelper"], stderr=subprocess.DEVNULL
        )
        try:
            assert Client(timeout=5).line(timeout=4)
            text = CASES["another helper"].format(pid=other.pid)
            assert sandbox.install(status=1, as_user=[]) == Alert("Installation Failed", text)
            assert sandbox.uninstall(as_user=[]) == UNINSTALLED
            assert other.poll() is None, "the other user's helper survived"
            assert helpers("-U", "1001") == [str(other.pid)]
        finally:
            other.kill()
            other.wait()


IMPOSTOR = """
import socket
with socket.create_server(("127.0.0.1", 27830)) as listener:
    while True:
        listener.accept()[0].sendall(b'{"cpuTemp":52.3,"cpuTempAvg":47.9,"gpuTemp":41.0,"gpuUtil":0.370}\\n')
"""


@pytest.mark.port
def test_another_users_program_that_sends_the_line_is_never_taken_for_the_helper(sandbox):
    if subprocess.run([*OTHER_USER, "true"]).returncode != 0:
        pytest.skip("a second uid needs a sandbox that maps several: run the tests as root")
    impostor = subprocess.Popen([*OTHER_USER, "/usr/bin/python3", "-c", IMPOSTOR])
    assert Client(timeout=5).line(timeout=4)
    held = "Helper installed but not running: 127.0.0.1:27830 is held by "
    seen_as = {  # the unprivileged user may not look into another user's processes
        ("root", 0): f"python3 (pid {impostor.pid}) of user 1001.",
        ("a user", 1000): "a process of user 65534, whose pid and program may not be read.",
    }
    for (who, uid), holder in seen_as.items():
        as_user = AS_A_USER if uid else []
        for _ in range(6):  # the race once won 3 tries in 8
            alert = sandbox.install(status=1, as_user=as_user)
            assert alert.title == "Installation Failed"
            assert alert.text.startswith(
                held + holder
            ), alert.text  # then what became of the earlier
        report = subprocess.run([*as_user, os.environ["REPORT"], "--json"], **TEXT)
        helper = json.loads(report.stdout)["helper"]
        expected = "not the helper" if uid == 0 else "unconfirmed"
        assert helper["state"] == expected, who
        assert helper["detail"] == "sent the helper's line, but the port is held by " + holder[:-1]
        assert helper["holder"]["uid"] == (1001 if uid == 0 else 65534)
    assert until(lambda: helpers() == []), "no helper of the installs runs"
    impostor.kill()
    impostor.wait()


@pytest.mark.parametrize("case", records("uninstalls", Uninstall))
def test_an_uninstall_that_leaves_something_behind_says_what_and_why(sandbox, case):
    for installed in case.installed:
        put_file(Path(sandbox.place(installed)))
    for locked, mode in case.locks.items():
        Path(sandbox.place(locked)).chmod(int(mode, 8))
    assert sandbox.uninstall(0 if case.title == "Success" else 1) == Alert(
        case.title, sandbox.place(case.text)
    )
    assert sandbox.listing() == case.left


def put_file(path, options=None):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("mine")


def remove(path, options):
    path.unlink()


def put_folder(path, options):
    path.unlink()
    path.mkdir()


def mount_tmpfs(folder, options):
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder], check=True)


def fill(folder):
    with contextlib.suppress(OSError):  # until no block or no inode is left
        for n in range(100000):
            (folder / f"filler-{n}").write_bytes(bytes(1024))


def fill_tmpfs(folder, options):
    mount_tmpfs(folder, options)
    fill(folder)


SETUPS = {"file": put_file, "gone": remove, "folder": put_folder, "full tmpfs": fill_tmpfs}


@pytest.mark.parametrize("fault", records("install faults", InstallFault))
def test_a_failed_step_is_reported_and_leaves_no_half_done_mess(sandbox, fault):
    SETUPS[fault.setup](Path(sandbox.place(fault.at)), fault.options)
    agent_folder = sandbox.listing(sandbox.autostart)
    assert sandbox.install(status=1) == Alert("Installation Failed", sandbox.place(fault.text))
    assert sandbox.listing(sandbox.autostart) == agent_folder, "an agent file was left"


def test_a_home_no_agent_file_can_name_is_refused_before_anything_is_placed(sandbox):
    sandbox.home = sandbox.root / os.fsdecode("Latín-1".encode("latin-1"))  # not UTF-8
    sandbox.home.mkdir()
    text = "Failed to install autostart entry:\nThe install folder's path is not valid UTF-8 text."
    assert sandbox.install(status=1) == Alert("Installation Failed", text)
    assert sandbox.listing() == [], "where the installer looked"


@pytest.mark.port
@pytest.mark.parametrize("case", records("failed reinstalls", FailedReinstall))
def test_a_reinstall_that_fails_on_a_full_disk_leaves_the_earlier_helper_installed_and_running(
    sandbox, case
):
    full = Path(sandbox.place(case.full))
    mount_tmpfs(full, f"size={case.size}")
    assert sandbox.install() == INSTALLED
    fill(full)
    agent = sandbox.agent.read_text()
    assert sandbox.install(status=1) == Alert("Installation Failed", sandbox.place(case.text))
    [helper] = helpers()
    assert os.readlink(f"/proc/{helper}/exe") == str(sandbox.install_dir / PROGRAM)
    assert Client(timeout=5).line(timeout=4), "it serves"
    assert sandbox.agent.read_text() == agent
    assert not [
        name for name in os.listdir(sandbox.install_dir) if name.startswith(".")
    ], "a copy left"
