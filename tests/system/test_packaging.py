"""What ships: the Mac build as generated here, packaging/sign.sh against a stub
codesign, and the Linux install tree."""

import os, re, shlex, subprocess
from pathlib import Path

from conftest import assert_golden, linux_only

SOURCE = Path(os.environ["SOURCE_DIR"])
GOLDENS = SOURCE / "tests/fixtures/packaging"
SHIPPED = ["helper/PelagrinHelper", "helper/pelagrin-sensors", "HelperInstaller"]


def mac_build_summary(mac, commands):
    """Info.plists, compile and link flags, the helper's copy and the Mac-only tests' commands."""
    text = (mac / "helper/PelagrinHelper.app/Contents/Info.plist").read_text()
    text += (mac / "HelperInstaller.app/Contents/Info.plist").read_text()
    for program in SHIPPED:
        rules = Path(mac, program).parent / f"CMakeFiles/{Path(program).name}.dir"
        flags = re.search(r"^\w+_FLAGS = (.*)$", (rules / "flags.make").read_text(), re.M)
        frameworks = re.findall(r"-framework \w+", (rules / "link.txt").read_text())
        text += f"{program}: {flags[1]} {' '.join(frameworks)}\n"
    rules = (mac / "CMakeFiles/HelperInstallerResources.dir/build.make").read_text()
    text += "".join(re.findall(r"^\S+\.stamp: .*\n|ditto .*\n", rules, re.M))
    for test in ["macos_smoke_test", "macos_smoke_leaks", "macos_bundle_copy_test"]:
        text += shlex.join(commands[test]) + "\n"
    return text.replace(str(SOURCE), "$SOURCE").replace(str(mac), "$BUILD")


@linux_only
def test_the_mac_build_makes_arm64_bundles_for_macos_13_and_its_tests_can_run(tmp_path):
    cache = SOURCE / "tests/packaging/mac-release.cmake"
    cmake = [os.environ["CMAKE_COMMAND"], "-C", cache, "-S", SOURCE, "-B", tmp_path]
    subprocess.run([*cmake, "-G", "Unix Makefiles"], check=True, capture_output=True)
    commands = {}
    for testfile in tmp_path.glob("**/CTestTestfile.cmake"):
        tests = re.findall(r"^add_test\(\[=\[(.+)\]=\] (.+)\)$", testfile.read_text(), re.M)
        for name, arguments in tests:
            commands[name] = shlex.split(arguments)
            assert "$<" not in arguments, f"{name}: a generator expression CMake split"
            assert os.path.isabs(commands[name][0]), name
    assert_golden(GOLDENS / "mac-build.expected", mac_build_summary(tmp_path, commands))


# Logs each call and fails to sign the code named in FAIL_ON.
CODESIGN = """#!/bin/bash
printf '[%s]' "$@" >> "$LOG"
echo >> "$LOG"
[[ $* != *--sign*" $FAIL_ON" ]]
"""
INNER = "HelperInstaller.app/Contents/Resources/PelagrinHelper.app"


def sign(apps, identity, fail_on=""):
    """sign.sh's status and the stub's calls."""
    log = apps / "log"
    log.write_text("")
    env = dict(os.environ, LOG=log, FAIL_ON=fail_on, PATH=f"{apps}:{os.environ['PATH']}")
    script = [SOURCE / "packaging/sign.sh", identity, apps / "HelperInstaller.app"]
    status = subprocess.run(script, env=env, capture_output=True).returncode
    transcript = f"sign.sh [{identity}], failing on [{fail_on}]: {status}\n{log.read_text()}"
    return transcript.replace(str(apps), "$APPS")


def test_sign_script_signs_the_inner_app_first_all_with_the_hardened_runtime(tmp_path):
    (tmp_path / "codesign").write_text(CODESIGN)
    for bundle in ["HelperInstaller.app", INNER]:
        (tmp_path / bundle / "Contents/MacOS").mkdir(parents=True)
        (tmp_path / bundle / "Contents/Info.plist").touch()
    programs = [f"{INNER}/Contents/MacOS/PelagrinHelper", "pelagrin-sensors", "codesign"]
    for program in ["HelperInstaller.app/Contents/MacOS/HelperInstaller", *programs]:
        (tmp_path / program).touch()
        (tmp_path / program).chmod(0o755)
    runs = [sign(tmp_path, "-"), sign(tmp_path, "Developer ID Application: R&D (TEAM1)")]
    runs.append(sign(tmp_path, "-", fail_on=str(tmp_path / INNER)))
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
    assert "Could not find the embedded autostart entry." in shown.stdout, "found the helper"
