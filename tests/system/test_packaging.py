"""What ships: the Mac build as generated here, packaging/sign.sh against a stub
codesign, and the Linux install tree."""

import os, re, shlex, subprocess
from pathlib import Path

from conftest import assert_golden, linux_only

SOURCE = Path(os.environ["SOURCE_DIR"])
GOLDENS = SOURCE / "tests/fixtures/packaging"
SHIPPED = ["helper/PelagrinHelper", "helper/pelagrin-sensors", "HelperInstaller"]
ADD_TEST = re.compile(r"^add_test\(\[=\[(.+)\]=\] (.+)\)$", re.M)
TIME_LIMIT = re.compile(r'^set_tests_properties\(\[=\[(.+?)\]=\] .* TIMEOUT "[1-9]', re.M)


def mac_build_summary(mac, commands):
    """Info.plists, compile and link flags, the helper's copy and the smoke test's commands."""
    text = (mac / "helper/PelagrinHelper.app/Contents/Info.plist").read_text()
    text += (mac / "HelperInstaller.app/Contents/Info.plist").read_text()
    for program in SHIPPED:
        rules = Path(mac, program).parent / f"CMakeFiles/{Path(program).name}.dir"
        flags = re.search(r"^\w+_FLAGS = (.*)$", (rules / "flags.make").read_text(), re.M)
        frameworks = re.findall(r"-framework \w+", (rules / "link.txt").read_text())
        text += f"{program}: {flags[1]} {' '.join(frameworks)}\n"
    rules = (mac / "CMakeFiles/HelperInstallerResources.dir/build.make").read_text()
    text += "".join(re.findall(r"^\S+\.stamp: .*\n|ditto .*\n", rules, re.M))
    text += shlex.join(commands["macos_smoke_test"]) + "\n"
    text += shlex.join(commands["macos_smoke_leaks"]) + "\n"
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


# Logs each call; ditto copies, codesign fails to sign the code named in FAIL_ON.
STUB = """#!/bin/bash
printf '%s ' "${0##*/}" >> "$LOG"
printf '[%s]' "$@" >> "$LOG"
echo >> "$LOG"
[[ ${0##*/} == codesign ]] || exec cp -R "$@"
[[ $* != *--sign*" $FAIL_ON" ]]
"""
INNER = "HelperInstaller.app/Contents/Resources/PelagrinHelper.app"


def sign(apps, identity, fail_on="", dist="dist"):
    """sign.sh's status, the stubs' calls and what it left in its DIST folder."""
    log = apps / "log"
    log.write_text("")
    env = dict(os.environ, LOG=log, FAIL_ON=fail_on, PATH=f"{apps}:{os.environ['PATH']}")
    script = [SOURCE / "packaging/sign.sh", identity, apps / "HelperInstaller.app", apps / dist]
    status = subprocess.run(script, env=env, capture_output=True).returncode
    left = sorted(path.name for path in (apps / dist).iterdir())
    transcript = f"sign.sh [{identity}] [{dist}], failing on [{fail_on}]: {status}, left {left}\n"
    return (transcript + log.read_text()).replace(str(apps), "$APPS")


def test_sign_script_signs_copies_the_inner_app_first_all_with_the_hardened_runtime(tmp_path):
    for bundle in ["HelperInstaller.app", INNER]:
        (tmp_path / bundle / "Contents/MacOS").mkdir(parents=True)
        (tmp_path / bundle / "Contents/Info.plist").touch()
    programs = [f"{INNER}/Contents/MacOS/PelagrinHelper", "pelagrin-sensors", "codesign", "ditto"]
    for program in ["HelperInstaller.app/Contents/MacOS/HelperInstaller", *programs]:
        (tmp_path / program).write_text(STUB)  # sign.sh runs only the tools
        (tmp_path / program).chmod(0o755)
    runs = [sign(tmp_path, "-"), sign(tmp_path, "Developer ID Application: R&D (TEAM1)")]
    runs.append(sign(tmp_path, "-", fail_on=f"{tmp_path}/dist/.signing/{INNER}"))
    runs.append(sign(tmp_path, "-", dist="."))  # not over the build itself
    assert_golden(GOLDENS / "sign-calls.expected", "".join(runs))


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
    env = dict(os.environ, HOME=str(tmp_path))
    shown = subprocess.run([program], input="Install\n\n", env=env, capture_output=True, text=True)
    assert "Could not find the embedded LaunchAgent plist." in shown.stdout, "found the helper"
