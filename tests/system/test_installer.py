"""The Linux installer as a user runs it, in a temporary home named HOME below:
its terminal dialogs, the real platform and the faults it must come through.
ctest runs this file in mount, PID and network namespaces of its own, where
killall and setsid are a stub that writes down its arguments and descriptors,
then fails, hangs a while or runs the real program, as each test asks."""
import contextlib, os, shutil, subprocess, time

import pytest

from conftest import Client, until

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
INSTALLED = (
    "Success",
    "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and "
    "switch to real CPU temperature and GPU utilization.",
)
UNINSTALLED = (
    "Success",
    "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal "
    "state gauges.",
)
PROGRAM = "PelagrinHelper.app/Contents/MacOS/PelagrinHelper"
HOME = 'Tom & "Jerry" `$HOME` \\ 100%'  # every character the agent files must escape


def mount(*arguments):
    subprocess.run(["mount", "--bind", *arguments], check=True)


@pytest.fixture(scope="session")
def stubs(tmp_path_factory):
    folder = tmp_path_factory.mktemp("stubs")
    (folder / "stub").write_text(STUB), (folder / "stub").chmod(0o755)
    for program in ("killall", "setsid"):
        shutil.copy(f"/usr/bin/{program}", folder), mount(folder / "stub", f"/usr/bin/{program}")
    return folder


class Sandbox:
    def __init__(self, root, stubs):
        self.root, self.stubs, self.home, self.log = root, stubs, root / HOME, root / "commands"
        self.home.mkdir(), self.log.write_text("")
        shutil.copytree(os.environ["INSTALLER_BUNDLE"], root / "HelperInstaller.app", symlinks=True)
        self.resources = root / "HelperInstaller.app/Contents/Resources"
        self.install_dir, self.autostart = (
            self.home / ".local/share/Pelagrin",
            self.home / ".config/autostart",
        )
        self.agent = self.autostart / "app.pelagrin.helper.desktop"
        self.canary = os.open(
            root, os.O_RDONLY
        )  # the installer's own descriptor, none of its commands'

    def run(self, answers, home=None, real=False, **stub):
        """What the installer showed when these answers were typed."""
        env = dict(
            os.environ,
            HOME=str(home or self.home),
            STUB_LOG=str(self.log),
            STUB_REAL=real * str(self.stubs),
            **stub,
        )
        result = subprocess.run(
            [self.root / "HelperInstaller.app/Contents/MacOS/HelperInstaller"],
            input=answers,
            capture_output=True,
            text=True,
            env=env,
            timeout=60,
            pass_fds=(self.canary,),
        )
        assert result.returncode == 0 and not result.stderr, result.stderr
        assert "noise from" not in result.stdout, "a command's output reached the terminal"
        return result.stdout

    install = lambda self, **stub: last_alert(self.run("Install\n\n", **stub))
    uninstall = lambda self, **stub: last_alert(self.run("Uninstall\nUninstall\n\n", **stub))
    commands = lambda self: self.log.read_text().splitlines()

    def listing(self, folder=None):
        """Every entry under a folder, the home by default: links listed, never followed."""
        folder = folder or self.home
        return {
            str(path.relative_to(folder)): os.readlink(path)
            if path.is_symlink()
            else path.read_bytes()
            if path.is_file()
            else "folder"
            for path in folder.rglob("*")
        }


@pytest.fixture
def sandbox(tmp_path, stubs):
    yield (sandbox := Sandbox(tmp_path, stubs))
    subprocess.run([stubs / "killall", "-q", "-KILL", "PelagrinHelper"]), os.close(sandbox.canary)


def last_alert(shown):
    """The title and text of the last dialog the terminal showed."""
    title, text = shown.rsplit("\n[", 1)[1].split("] ", 1)[1].split("\n\n", 1)
    return title, text.rsplit("\n\n  1. ", 1)[0]


def test_install_reinstall_and_uninstall_through_the_terminal(sandbox):
    shown = sandbox.run("2\n4\nmaybe\n  install \n\n", real=True)
    assert (
        "[i] Pelagrin Sensor Helper\n\nThis helper runs quietly" in shown
        and "\u2022 Communicates only with Pelagrin via localhost\n\n  1. Install\n  2. Uninstall (unavailable)\n  3. Cancel\n"  # its text is installer_app_test's
        in shown
    )
    assert '"Uninstall" is unavailable.' in shown and '"maybe" is not one of the choices.' in shown
    assert (
        last_alert(shown) == INSTALLED
        and subprocess.run(["desktop-file-validate", sandbox.agent]).returncode == 0
    )
    exec_home = rf'Tom & \\"Jerry\\" \\`\\$HOME\\` \\\\ 100%%'  # Exec quoting, then the entry's escaping of \
    assert (
        rf'Exec="{sandbox.root}/{exec_home}/.local/share/Pelagrin/{PROGRAM}"' + "\n"
        in sandbox.agent.read_text()
    )
    assert sandbox.commands() == [
        "killall [PelagrinHelper]",
        f"setsid [-f] [{sandbox.install_dir}/{PROGRAM}]",
    ]
    assert (
        str(sandbox.canary) not in sandbox.log.with_suffix(".fds").read_text().split()
    ), "a descriptor of the installer's leaked into its commands"
    first = Client(timeout=5)  # the helper runs
    assert first.line(timeout=4)
    for name, text in (
        ("PelagrinHelper.app/old-only.txt", "old"),
        ("PelagrinHelper", "bare"),
        ("notes.txt", "its own"),
    ):
        (sandbox.install_dir / name).write_text(text)
    shown = sandbox.run("1\n\n", real=True)
    assert (
        "  1. Reinstall\n  2. Uninstall\n  3. Cancel\n" in shown and last_alert(shown) == INSTALLED
    )
    assert until(lambda: first.line(timeout=3) is None, 10) and Client(timeout=5).line(
        timeout=4
    ), "a new helper in its place"
    assert not any(
        (sandbox.install_dir / name).exists()
        for name in ("PelagrinHelper.app/old-only.txt", "PelagrinHelper")
    ), "the old bundle goes as a whole, and a bare helper with it"
    assert (
        last_alert(sandbox.run("UNINSTALL\n1\n\n", real=True)) == UNINSTALLED
        and not sandbox.agent.exists()
    )
    assert until(
        lambda: subprocess.run(["pgrep", "-x", "-r", "R,S,D", "PelagrinHelper"]).returncode == 1
    )
    assert sandbox.listing(sandbox.install_dir) == {
        "notes.txt": b"its own"
    }, "only what the installer put there goes"


@pytest.mark.parametrize(
    "installed, answers, dialogs",
    [
        ("PelagrinHelper", "Cancel\n", 1),
        ("PelagrinHelper", "3\n", 1),
        ("PelagrinHelper", "", 1),
        ("PelagrinHelper", "Uninstall\nCancel\n", 2),
        ("PelagrinHelper", "Uninstall\n", 2),
        ("../../.config/autostart/app.pelagrin.helper.desktop", "Uninstall\n", 1),
    ],
)  # an agent file alone is no helper
def test_cancel_or_the_end_of_input_changes_nothing(sandbox, installed, answers, dialogs):
    (sandbox.install_dir / installed).parent.mkdir(parents=True), (
        sandbox.install_dir / installed
    ).write_text("installed")
    before = sandbox.listing()
    assert sandbox.run(answers).count("\n[") == dialogs, "no alert after a cancel"
    assert sandbox.listing() == before and sandbox.commands() == []


@pytest.mark.parametrize(
    "stub, status",
    [
        ({"STUB_EXIT_setsid": "5"}, 5),
        ({"STUB_HANG": "setsid"}, 9),
        ({"STUB_HANG": "killall"}, 0),
        ({}, 127),
    ],
)  # {}: setsid cannot start
def test_the_start_status_is_reported_and_a_command_is_waited_for_however_long_it_takes(
    sandbox, stub, status
):
    if not stub:
        (sandbox.root / "not a program").write_text(""), mount(
            sandbox.root / "not a program", "/usr/bin/setsid"
        )
    started = time.monotonic()
    try:
        alert = sandbox.install(**stub)
    finally:
        if not stub:
            subprocess.run(["umount", "/usr/bin/setsid"], check=True)
    assert time.monotonic() - started >= 1.5 + 0.5 * (
        "STUB_HANG" in stub
    ), "the stub hangs for half a second"
    assert (
        alert
        == (
            (
                "Installation Failed",
                f"Helper installed but failed to start (error {status}).\n\nTry logging "
                "out and back in.",
            )
            if status
            else INSTALLED
        )
        and sandbox.agent.exists()
    )
    if "killall" in stub.values():  # killed while uninstalling too: the procedure goes on
        assert sandbox.uninstall(**stub) == UNINSTALLED and not sandbox.install_dir.exists()


@pytest.mark.parametrize("kept", ["agent", "helper app"])
def test_an_uninstall_that_leaves_the_agent_or_the_helper_behind_says_so(sandbox, kept):
    assert sandbox.install() == INSTALLED
    path = sandbox.agent if kept == "agent" else sandbox.install_dir / "PelagrinHelper.app"
    mount("-o", "ro", path.parent, path.parent)
    try:
        assert sandbox.uninstall() == (
            "Uninstall Failed",
            f'Failed to remove {"LaunchAgent" if kept == "agent" else kept}'
            f':\nCannot remove "{path}": Read-only file system.',
        )
    finally:
        subprocess.run(["umount", path.parent], check=True)
    assert path.exists()


def fill_tmpfs(folder, options):
    """A small tmpfs over the folder, filled until no block or no inode is left."""
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder], check=True)
    with contextlib.suppress(OSError):
        for n in range(100000):
            (folder / f"filler-{n}").write_bytes(bytes(1024))


FAULTS = {  # each sets the fault up and says what the installer must answer
    "a file where the install folder goes": lambda s: s.install_dir.parent.mkdir(parents=True)
    or (
        s.install_dir.write_text("mine")
        and f'Failed to create directory:\nCannot create the folder "{s.install_dir}": '
        "Not a directory."
    ),
    "no block for the agent file": lambda s: fill_tmpfs(s.autostart, "size=4k")
    or (f'Failed to install LaunchAgent:\nCannot write "{s.agent}": No space left on device.'),
    "no inode for the agent file": lambda s: fill_tmpfs(s.autostart, "size=64k,nr_inodes=8")
    or (f'Failed to install LaunchAgent:\nCannot write "{s.agent}": No space left on device.'),
    "no room for the helper": lambda s: fill_tmpfs(s.install_dir, "size=4k")
    or (
        f'Failed to copy helper app:\nCannot copy "{s.resources}/PelagrinHelper.app" to '
        f'"{s.install_dir}/PelagrinHelper.app": No space left on device.'
    ),
    "a file where the agent folder goes": lambda s: s.autostart.parent.mkdir()
    or s.autostart.write_text("mine")
    and (
        f'Failed to install LaunchAgent:\nCannot create the folder "{s.autostart}": Not a directory.'
    ),
    "a folder where the template goes": lambda s: (
        s.resources / "app.pelagrin.helper.desktop"
    ).unlink()
    or (s.resources / "app.pelagrin.helper.desktop").mkdir()
    or (
        f'Failed to install LaunchAgent:\nCannot read "{s.resources}/app.pelagrin.helper.desktop": Is a directory.'
    ),
}


@pytest.mark.parametrize("fault", FAULTS)
def test_a_failed_step_is_reported_and_leaves_no_half_done_mess(sandbox, fault):
    text = FAULTS[fault](sandbox)
    agent_folder = sandbox.autostart.is_dir() and sandbox.listing(sandbox.autostart)
    assert sandbox.install() == ("Installation Failed", text) and not sandbox.agent.exists()
    assert (
        not agent_folder or sandbox.listing(sandbox.autostart) == agent_folder
    ), "a temporary agent file was left"
    for folder in (sandbox.autostart, sandbox.install_dir):
        subprocess.run(["umount", "-l", folder], stderr=subprocess.DEVNULL)
    if fault not in ("no room for the helper", "a file where the install folder goes"):
        assert (
            sandbox.install_dir / PROGRAM
        ).exists(), "the helper is placed before the agent file, and stays"
        before = {
            name: entry
            for name, entry in sandbox.listing().items()
            if not name.startswith(".local")
        }
        assert sandbox.uninstall() == UNINSTALLED
        assert {
            name: entry
            for name, entry in sandbox.listing().items()
            if not name.startswith(".local")
        } == before


@pytest.mark.parametrize(
    "resources, home, text",
    [
        ("no template", None, "Could not find the embedded LaunchAgent plist."),
        (
            "a helper that is a symlink loop",
            None,
            "Could not find the embedded helper app in Resources.",
        ),
        (
            "as built",
            b"Lat\xedn-1",
            "Failed to install LaunchAgent:\nThe install folder's path is not valid UTF-8 text.",
        ),
    ],
)
def test_what_the_installer_cannot_carry_out_is_refused_with_a_reason(
    sandbox, resources, home, text
):
    if resources == "no template":
        (sandbox.resources / "app.pelagrin.helper.desktop").unlink()
    elif resources != "as built":
        shutil.rmtree(sandbox.resources / "PelagrinHelper.app")
        (sandbox.resources / "PelagrinHelper.app").symlink_to("PelagrinHelper.app")
    home = home and os.fsdecode(bytes(sandbox.root) + b"/" + home)
    if home:
        os.mkdir(home)
    assert last_alert(sandbox.run("Install\n\n", home=home)) == ("Installation Failed", text)
    assert sandbox.listing() == {} and sandbox.commands() == (
        ["killall [PelagrinHelper]"] if home else []
    )
