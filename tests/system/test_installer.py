"""The Linux installer as a user runs it, in a temporary home named "Tom & Jerry":
the terminal dialogs, the real platform, and the faults it must come through.
ctest runs this file in mount, PID and network namespaces of its own, where
killall and setsid are a stub that logs its arguments and descriptors, then
exits, hangs or runs the real program as a test asks."""
import os
import shutil
import signal
import subprocess
import threading
import time

import pytest

from conftest import Client, until

pytestmark = pytest.mark.skipif(os.environ.get("PELAGRIN_ISOLATED") != "1",
                                reason="run through ctest, which gives it namespaces of its own")
STUB = """#!/bin/sh
name=${0##*/}
{ printf %s "$name"; for argument in "$@"; do printf ' [%s]' "$argument"; done; echo; } >> "$STUB_LOG"
ls /proc/$$/fd | tr '\\n' ' ' >> "$STUB_LOG.fds"
echo "noise from $name"; echo "noise from $name" >&2
case " $STUB_HANG " in *" $name "*) echo $$ > "$STUB_LOG.pid"; exec sleep 3600;; esac
eval "status=\\${STUB_EXIT_$name-}"
if [ -n "$status" ]; then exit "$status"; fi
if [ -n "$STUB_REAL" ]; then exec "$STUB_REAL/$name" "$@"; fi
"""
INSTALLED = ("Success", "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and "
             "switch to real CPU temperature and GPU utilization.")
UNINSTALLED = ("Success", "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal "
               "state gauges.")
PROGRAM = "PelagrinHelper.app/Contents/MacOS/PelagrinHelper"


@pytest.fixture(scope="session")
def stubs(tmp_path_factory):
    folder = tmp_path_factory.mktemp("stubs")
    (folder / "real").mkdir()
    (folder / "stub").write_text(STUB)
    (folder / "stub").chmod(0o755)
    for program in ("killall", "setsid"):
        shutil.copy(f"/usr/bin/{program}", folder / "real" / program)
        subprocess.run(["mount", "--bind", folder / "stub", f"/usr/bin/{program}"], check=True)
    return folder


class Sandbox:
    def __init__(self, root, stubs):
        self.root, self.stubs = root, stubs
        self.home = root / "Tom & Jerry"
        self.home.mkdir()
        self.resources = root / "HelperInstaller.app/Contents/Resources"
        shutil.copytree(os.environ["INSTALLER_BUNDLE"], root / "HelperInstaller.app", symlinks=True)
        self.install_dir = self.home / ".local/share/Pelagrin"
        self.autostart = self.home / ".config/autostart"
        self.agent = self.autostart / "app.pelagrin.helper.desktop"
        self.log = root / "commands"
        self.log.touch()

    def run(self, answers, home=None, **stub):
        """Runs the installer with these answers typed; returns what it showed."""
        env = dict(os.environ, HOME=str(home or self.home), STUB_LOG=str(self.log), **stub)
        if env.pop("real", None):
            env["STUB_REAL"] = str(self.stubs / "real")
        self.canary = os.open(self.root, os.O_RDONLY)  # the installer's own, none of its commands'
        try:
            result = subprocess.run([self.root / "HelperInstaller.app/Contents/MacOS/HelperInstaller"], input=answers,
                                    capture_output=True, text=True, env=env, timeout=60, pass_fds=(self.canary,))
        finally:
            os.close(self.canary)
        assert result.returncode == 0 and not result.stderr, result.stderr
        assert "noise from" not in result.stdout, "a command's output reached the terminal"
        return result.stdout

    def install(self, **stub):
        return last_alert(self.run("Install\n\n", **stub))

    def uninstall(self, **stub):
        return last_alert(self.run("Uninstall\nUninstall\n\n", **stub))

    def commands(self):
        return self.log.read_text().splitlines()

    def listing(self, folder=None):
        """Every entry under a folder (the home by default), links listed, never followed."""
        folder = folder or self.home
        return {str(path.relative_to(folder)): os.readlink(path) if path.is_symlink() else
                path.read_bytes() if path.is_file() else "folder" for path in folder.rglob("*")}


@pytest.fixture
def sandbox(tmp_path, stubs):
    yield Sandbox(tmp_path, stubs)
    subprocess.run([stubs / "real/killall", "-q", "-KILL", "PelagrinHelper"])


def last_alert(shown):
    """The title and text of the last dialog the terminal showed."""
    block = shown.rsplit("\n[", 1)[1].split("] ", 1)[1]
    title, rest = block.split("\n\n", 1)
    return title, rest.rsplit("\n\n  1. ", 1)[0]


def helpers_running(program):
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/exe") == str(program):
                found.append(int(pid))
        except OSError:
            pass  # gone, or a zombie
    return found


def test_install_reinstall_and_uninstall_through_the_terminal(sandbox):
    program = sandbox.install_dir / PROGRAM
    shown = sandbox.run("2\n4\nmaybe\n  install \n\n", real=True)
    assert "  1. Install\n  2. Uninstall (unavailable)\n  3. Cancel\n" in shown
    assert '"Uninstall" is unavailable.' in shown and '"maybe" is not one of the choices.' in shown
    assert last_alert(shown) == INSTALLED
    assert subprocess.run(["desktop-file-validate", sandbox.agent]).returncode == 0
    assert f"Exec=\"{sandbox.install_dir}/{PROGRAM}\"\n" in sandbox.agent.read_text()
    assert until(lambda: helpers_running(program), 5)
    first = helpers_running(program)
    assert Client().line(timeout=4)
    assert sandbox.commands() == ["killall [PelagrinHelper]", f"setsid [-f] [{program}]"]
    assert str(sandbox.canary) not in sandbox.log.with_suffix(".fds").read_text().split(), \
        "a descriptor of the installer's leaked into its commands"

    (sandbox.install_dir / "PelagrinHelper.app/old-only.txt").write_text("old")
    (sandbox.install_dir / "PelagrinHelper").write_text("bare")
    (sandbox.install_dir / "notes.txt").write_text("the Pelagrin app's own")
    shown = sandbox.run("1\n\n", real=True)
    assert "  1. Reinstall\n  2. Uninstall\n  3. Cancel\n" in shown and last_alert(shown) == INSTALLED
    assert not (sandbox.install_dir / "PelagrinHelper.app/old-only.txt").exists()
    assert not (sandbox.install_dir / "PelagrinHelper").exists()
    assert (sandbox.install_dir / "notes.txt").read_text() == "the Pelagrin app's own"
    assert until(lambda: helpers_running(program) not in ([], first), 5)
    assert Client().line(timeout=4)

    assert last_alert(sandbox.run("UNINSTALL\n1\n\n", real=True)) == UNINSTALLED
    assert until(lambda: not helpers_running(program), 5)
    assert not sandbox.agent.exists()
    assert sandbox.listing(sandbox.install_dir) == {"notes.txt": b"the Pelagrin app's own"}, \
        "only what the installer put there goes"


@pytest.mark.parametrize("answers", ["Cancel\n", "3\n", "", "Uninstall\nCancel\n", "Uninstall\n"])
def test_cancel_or_the_end_of_input_changes_nothing(sandbox, answers):
    (sandbox.install_dir / "PelagrinHelper").parent.mkdir(parents=True)
    (sandbox.install_dir / "PelagrinHelper").write_text("installed")
    before = sandbox.listing()
    shown = sandbox.run(answers)
    assert shown.count("\n[") == 1 + answers.startswith("Uninstall"), "no result alert after a cancel"
    assert sandbox.listing() == before and sandbox.commands() == []


def kill_when_hung(sandbox, after=0.3):
    """Kills the stub that hangs, once it has hung for a while, as a user would."""
    def kill():
        pid_file = sandbox.log.with_suffix(".pid")
        until(lambda: pid_file.exists() and pid_file.read_text().endswith("\n"), 30)
        time.sleep(after)
        os.kill(int(pid_file.read_text()), signal.SIGKILL)
    killer = threading.Thread(target=kill)
    killer.start()
    return killer


@pytest.mark.parametrize("stub, result", [
    ({"STUB_EXIT_setsid": "5"}, "5"),
    ({"STUB_HANG": "setsid"}, "9"),  # waited for until killed
    ({"STUB_HANG": "killall"}, None),  # a stop command's end is not looked at
    ({}, "127"),  # setsid cannot be started at all
])
def test_start_command_status_is_reported_and_hung_commands_are_waited_for(sandbox, stub, result):
    if not stub:
        (sandbox.root / "not a program").write_text("")
        subprocess.run(["mount", "--bind", sandbox.root / "not a program", "/usr/bin/setsid"], check=True)
    killer = kill_when_hung(sandbox) if "STUB_HANG" in stub else None
    started = time.monotonic()
    try:
        alert = sandbox.install(**stub)
    finally:
        if not stub:
            subprocess.run(["umount", "/usr/bin/setsid"], check=True)
    if killer:
        killer.join()
        assert time.monotonic() - started >= 1.5 + 0.3
    expected = INSTALLED if result is None else (
        "Installation Failed", f"Helper installed but failed to start (error {result}).\n\nTry logging out and back in.")
    assert alert == expected
    assert sandbox.agent.exists()


def test_hung_stop_command_during_uninstall_is_waited_for(sandbox):
    sandbox.install()
    killer = kill_when_hung(sandbox)
    assert sandbox.uninstall(STUB_HANG="killall") == UNINSTALLED
    killer.join()
    assert not sandbox.agent.exists() and not sandbox.install_dir.exists()


@pytest.mark.parametrize("kept, text", [("agent", "Failed to remove LaunchAgent:\nCannot remove \"{}\": Read-only file system."),
                                        ("bundle", "Failed to remove helper app:\nCannot remove \"{}\": Read-only file system.")])
def test_an_uninstall_that_leaves_the_agent_or_the_helper_behind_says_so(sandbox, kept, text):
    assert sandbox.install() == INSTALLED
    path = sandbox.agent if kept == "agent" else sandbox.install_dir / "PelagrinHelper.app"
    subprocess.run(["mount", "--bind", "-o", "ro", path.parent, path.parent], check=True)
    try:
        assert sandbox.uninstall() == ("Uninstall Failed", text.format(path))
    finally:
        subprocess.run(["umount", path.parent], check=True)
    assert path.exists()


def fill_tmpfs(folder, options):
    """A small tmpfs over the folder, filled until no block or no inode is left."""
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder], check=True)
    try:
        for n in range(100000):
            (folder / f"filler-{n}").write_bytes(bytes(1024))
    except OSError:
        pass


def fault_full_agent_folder(sandbox, options):
    fill_tmpfs(sandbox.autostart, options)
    return f'Failed to install LaunchAgent:\nCannot write "{sandbox.agent}": No space left on device.'


FAULTS = {
    "no block for the agent file": lambda s: fault_full_agent_folder(s, "size=4k"),
    "no inode for the agent file": lambda s: fault_full_agent_folder(s, "size=64k,nr_inodes=8"),
    "no room for the helper": lambda s: (fill_tmpfs(s.install_dir, "size=4k"), (
        f'Failed to copy helper app:\nCannot copy "{s.resources}/PelagrinHelper.app" to '
        f'"{s.install_dir}/PelagrinHelper.app": No space left on device.'))[1],
    "a file where the agent folder goes": lambda s: (s.autostart.parent.mkdir(), s.autostart.write_text("mine"), (
        f'Failed to install LaunchAgent:\nCannot create the folder "{s.autostart}": Not a directory.'))[2],
    "a file where its parent goes": lambda s: (s.autostart.parent.write_text("mine"), (
        f'Failed to install LaunchAgent:\nCannot create the folder "{s.autostart}": Not a directory.'))[1],
    "a folder where the template goes": lambda s: (
        (s.resources / "app.pelagrin.helper.desktop").unlink(), (s.resources / "app.pelagrin.helper.desktop").mkdir(),
        f'Failed to install LaunchAgent:\nCannot read "{s.resources}/app.pelagrin.helper.desktop": Is a directory.')[2],
}


@pytest.mark.parametrize("fault", FAULTS)
def test_a_failed_step_is_reported_and_leaves_no_half_done_mess(sandbox, fault):
    text = FAULTS[fault](sandbox)
    agent_folder = sandbox.listing(sandbox.autostart) if sandbox.autostart.is_dir() else None
    assert sandbox.install() == ("Installation Failed", text)
    if agent_folder is not None:
        assert sandbox.listing(sandbox.autostart) == agent_folder, "a temporary or partial agent file was left"
    assert not sandbox.agent.exists()
    for folder in (sandbox.autostart, sandbox.install_dir):
        subprocess.run(["umount", "-l", folder], stderr=subprocess.DEVNULL)
    if fault == "no room for the helper":
        return
    assert (sandbox.install_dir / PROGRAM).exists(), "the helper is placed before the agent file, and stays"
    before = {k: v for k, v in sandbox.listing().items() if not k.startswith(".local")}
    assert sandbox.uninstall() == UNINSTALLED
    assert {k: v for k, v in sandbox.listing().items() if not k.startswith(".local")} == before


@pytest.mark.parametrize("resources, home, text", [
    ("no template", None, "Could not find the embedded LaunchAgent plist."),
    ("a helper that is a symlink loop", None, "Could not find the embedded helper app in Resources."),
    ("as built", b"Lat\xedn-1", "Failed to install LaunchAgent:\nThe install folder's path is not valid UTF-8 text."),
])
def test_what_the_installer_cannot_carry_out_is_refused_with_a_reason(sandbox, resources, home, text):
    if resources == "no template":
        (sandbox.resources / "app.pelagrin.helper.desktop").unlink()
    elif resources != "as built":
        shutil.rmtree(sandbox.resources / "PelagrinHelper.app")
        (sandbox.resources / "PelagrinHelper.app").symlink_to("PelagrinHelper.app")
    home = os.fsdecode(bytes(sandbox.root) + b"/" + home) if home else None
    if home:
        os.mkdir(home)
    assert last_alert(sandbox.run("Install\n\n", home=home)) == ("Installation Failed", text)
    assert sandbox.listing() == {} and not sandbox.agent.exists()
    assert sandbox.commands() == ([] if resources != "as built" else ["killall [PelagrinHelper]"])


def test_bundle_with_symlink_loops_is_copied_as_links_and_removed_without_following_them(sandbox):
    bundle = sandbox.resources / "PelagrinHelper.app"
    (bundle / "Contents/a").symlink_to("b")
    (bundle / "Contents/b").symlink_to("a")
    (bundle / "Contents/self").symlink_to("self")
    (bundle / "Contents/MacOS/up").symlink_to("../..")
    (bundle / "Contents/home").symlink_to(sandbox.home)
    (sandbox.home / "Documents").mkdir()
    (sandbox.home / "Documents/keep.txt").write_text("kept")
    shipped = sandbox.listing(bundle)
    assert sandbox.install() == INSTALLED
    assert sandbox.listing(sandbox.install_dir / "PelagrinHelper.app") == shipped
    assert sandbox.uninstall() == UNINSTALLED
    assert (sandbox.home / "Documents/keep.txt").read_text() == "kept" and sandbox.listing(bundle) == shipped
