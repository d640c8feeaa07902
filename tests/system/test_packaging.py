"""What ships: the Mac build as generated here, packaging/sign.sh against a stub
codesign, and the Linux install tree."""

import os, re, shlex, subprocess
from pathlib import Path

import pytest

from conftest import assert_golden, linux_only

SOURCE = Path(os.environ["SOURCE_DIR"])
GOLDENS = SOURCE / "tests/fixtures/packaging"
SHIPPED = ["helper/PelagrinHelper", "helper/pelagrin-sensors", "HelperInstaller"]
ADD_TEST = re.compile(r"^add_test\(\[=\[(.+)\]=\] (.+)\)$", re.M)
TIME_LIMIT = re.compile(r'^set_tests_properties\(\[=\[(.+?)\]=\] .* TIMEOUT "[1-9]', re.M)


def target_rules(build, target):
    """The folder of a target's make rules, wherever its CMakeLists.txt sits."""
    return next(build.rglob(f"CMakeFiles/{target}.dir"))


def mac_build_summary(mac, commands):
    """Info.plists, compile and link flags, the helper's copy and the Mac-only tests' commands."""
    text = (mac / "helper/PelagrinHelper.app/Contents/Info.plist").read_text()
    text += (mac / "HelperInstaller.app/Contents/Info.plist").read_text()
    for program in SHIPPED:
        rules = target_rules(mac, Path(program).name)
        flags = re.search(r"^\w+_FLAGS = (.*)$", (rules / "flags.make").read_text(), re.M)
        frameworks = re.findall(r"-framework \w+", (rules / "link.txt").read_text())
        text += f"{program}: {flags[1]} {' '.join(frameworks)}\n"
    rules = (target_rules(mac, "HelperInstallerResources") / "build.make").read_text()
    text += "".join(re.findall(r"^\S+\.stamp: .*\n|ditto .*\n", rules, re.M))
    rules = (mac / "porttable/CMakeFiles/pelagrin_port_table.dir/build.make").read_text()
    text += "".join(re.findall(r"^\S+\.o: (\S+\.cpp\n)", rules, re.M))
    for test in [
        "macos_smoke_test",
        "macos_smoke_leaks",
        "macos_bundle_copy_test",
        "port_holder_test",
    ]:
        text += shlex.join(commands[test]) + "\n"
    return text.replace(str(SOURCE), "$SOURCE").replace(str(mac), "$BUILD")


def registered(build):
    """Each test's command as CTest runs it; every test must have a time limit."""
    commands = {}
    limited = set()
    for testfile in build.glob("**/CTestTestfile.cmake"):
        text = testfile.read_text()
        for name, arguments in ADD_TEST.findall(text):
            assert "$<" not in arguments, f"{name}: a generator expression CMake split"
            commands[name] = shlex.split(arguments)
        limited.update(TIME_LIMIT.findall(text))
    assert sorted(commands.keys() - limited) == [], "a hang there would stop the whole run"
    return commands


@linux_only
def test_the_mac_build_makes_arm64_bundles_for_macos_13_and_its_tests_can_run(tmp_path):
    cache = SOURCE / "tests/packaging/mac-release.cmake"
    cmake = [os.environ["CMAKE_COMMAND"], "-C", cache, "-S", SOURCE, "-B", tmp_path]
    subprocess.run([*cmake, "-G", "Unix Makefiles"], check=True, capture_output=True)
    registered(Path(os.environ["BUILD_DIR"]))
    commands = registered(tmp_path)
    assert [name for name, command in commands.items() if not os.path.isabs(command[0])] == []
    assert_golden(GOLDENS / "mac-build.expected", mac_build_summary(tmp_path, commands))


# Logs each call. ditto copies or zips, codesign fails to sign the code named in FAIL_ON,
# notarytool answers VERDICT, and Gatekeeper sees a notarized app unless told otherwise.
STUB = """#!/bin/bash
printf '%s ' "${0##*/}" >> "$LOG"
printf '[%s]' "$@" >> "$LOG"
echo >> "$LOG"
case ${0##*/} in
  ditto) if [[ $1 == -c ]]; then touch "${@: -1}"; else cp -R "$@"; fi ;;
  codesign) [[ $* != *--sign*" $FAIL_ON" ]] ;;
  xcrun) [[ $2 != submit ]] || printf '{"id": "7e4", "status": "%s"}' "$VERDICT" ;;
  spctl) echo "source=${GATEKEEPER:-Notarized Developer ID}" >&2 ;;
esac
"""
INNER = "HelperInstaller.app/Contents/Resources/PelagrinHelper.app"


def transcript(apps, command, **settings):
    """A packaging script's command line and status, then the stubs' calls, run from $APPS."""
    line = " ".join([*(f"{name}={value}" for name, value in settings.items()), *command])
    env = {name: value for name, value in os.environ.items() if not name.startswith("NOTARY_")}
    env.update(settings, LOG=apps / "log", PATH=f"{apps}:{os.environ['PATH']}")
    (apps / "log").write_text("")
    script = [SOURCE / "packaging" / command[0], *command[1:]]
    status = subprocess.run(script, env=env, capture_output=True).returncode
    left = sorted(str(path.relative_to(apps)) for path in apps.glob("**/HelperInstaller.*"))
    text = f"{line}: {status}\n{(apps / 'log').read_text()}left: {left}\n"
    return text.replace(str(apps), "$APPS")


def stubs(apps, programs):
    for program in programs:
        (apps / program).parent.mkdir(parents=True, exist_ok=True)
        (apps / program).write_text(STUB)  # the apps' programs are never run
        (apps / program).chmod(0o755)


def sign(apps, identity, fail_on="", dist="dist"):
    command = ["sign.sh", identity, f"{apps}/HelperInstaller.app", f"{apps}/{dist}"]
    return transcript(apps, command, FAIL_ON=fail_on)


def test_sign_script_signs_copies_the_inner_app_first_all_with_the_hardened_runtime(tmp_path):
    for bundle, program in [("HelperInstaller.app", "HelperInstaller"), (INNER, "PelagrinHelper")]:
        stubs(tmp_path, [f"{bundle}/Contents/MacOS/{program}"])
        (tmp_path / bundle / "Contents/Info.plist").touch()
    stubs(tmp_path, ["pelagrin-sensors", "codesign", "ditto"])
    runs = [sign(tmp_path, "-"), sign(tmp_path, "Developer ID Application: R&D (TEAM1)")]
    runs.append(sign(tmp_path, "-", fail_on=f"{tmp_path}/dist/.signing/{INNER}"))
    runs.append(sign(tmp_path, "-", dist="."))  # not over the build itself
    assert_golden(GOLDENS / "sign-calls.expected", "".join(runs))


def test_notarize_script_staples_and_zips_only_what_the_notary_service_accepted(tmp_path):
    stubs(tmp_path, ["dist/HelperInstaller.app/Contents/Info.plist", "ditto", "xcrun", "spctl"])
    command = ["notarize.sh", f"{tmp_path}/dist/HelperInstaller.app"]
    apple_id = dict(NOTARY_APPLE_ID="dev@example.com", NOTARY_TEAM_ID="TEAM1", NOTARY_PASSWORD="pw")
    runs = [
        dict(VERDICT="Accepted", **apple_id),
        dict(VERDICT="Invalid", NOTARY_PROFILE="pelagrin"),
        dict(VERDICT="Accepted", GATEKEEPER="Unnotarized Developer ID", **apple_id),
        dict(VERDICT="Accepted"),  # and no credentials
    ]
    text = "".join(transcript(tmp_path, command, **settings) for settings in runs)
    assert_golden(GOLDENS / "notarize-calls.expected", text)


# Root in a user namespace with a PID namespace and /proc of its own: should the
# installer get as far as its pkill, that reaches nothing of the machine's.
OWN_PID_NAMESPACE = ["unshare", "--map-root-user", "--pid", "--fork", "--mount-proc", "--"]


def entries(root):
    return {str(path.relative_to(root)): os.access(path, os.X_OK) for path in root.rglob("*")}


@linux_only
def test_the_linux_install_tree_works_from_any_prefix(tmp_path):
    install = [os.environ["CMAKE_COMMAND"], "--install", os.environ["BUILD_DIR"]]
    subprocess.run([*install, "--prefix", tmp_path], check=True, capture_output=True)
    bundle = tmp_path / "libexec/pelagrin/HelperInstaller.app"
    assert entries(bundle) == entries(Path(os.environ["INSTALLER_BUNDLE"]))
    assert subprocess.run([tmp_path / "bin/pelagrin-sensors", "--help"]).returncode == 0
    program = tmp_path / "bin/HelperInstaller"
    assert not os.path.isabs(os.readlink(program)), "a staged tree keeps working once moved"
    (bundle / "Contents/Resources/app.pelagrin.helper.desktop").unlink()
    if subprocess.run([*OWN_PID_NAMESPACE, "true"]).returncode != 0:
        pytest.skip(
            "the installer is refused outside a PID namespace, where its pkill would stop the machine's helpers"
        )
    env = dict(os.environ, HOME=str(tmp_path))
    installer = [*OWN_PID_NAMESPACE, program]
    shown = subprocess.run(installer, input="Install\n\n", env=env, capture_output=True, text=True)
    assert "Could not find the embedded autostart entry." in shown.stdout, "found the helper"


@linux_only
def test_deps_on_a_mac_names_homebrew_only_for_what_is_not_on_path(tmp_path):
    for name, text in {"uname": "echo Darwin", "cmake": "exit 0"}.items():
        (tmp_path / name).write_text(f"#!/bin/sh\n{text}\n")
        (tmp_path / name).chmod(0o755)
    deps = ["/bin/bash", SOURCE / "scripts/deps.sh"]
    env = {"PATH": str(tmp_path)}
    assert subprocess.run([*deps, "--run"], env=env).returncode == 0, "cmake was found"
    asked = subprocess.run(deps, env=env, capture_output=True, text=True)
    assert asked.returncode == 1
    assert "\n  brew install pytest googletest\n" in asked.stderr
