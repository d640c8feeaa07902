"""What ships: the LaunchAgent template, the Mac build as cmake/Apple.cmake
generates it (with clang posing as Apple's compiler, see darwin-generate.cmake),
packaging/sign.sh against a stub codesign, and the Linux install tree."""
import json
import os
import plistlib
import re
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import linux_only

SOURCE = Path(os.environ["SOURCE_DIR"])
HELPER_IN_BUNDLE = "/PelagrinHelper.app/Contents/MacOS/PelagrinHelper"


def test_launch_agent_runs_the_installed_helper_once_per_login_and_after_a_crash():
    agent = plistlib.loads((SOURCE / "installer/resources/app.pelagrin.helper.plist").read_bytes())
    assert agent["ProgramArguments"] == ["__INSTALL_PATH__" + HELPER_IN_BUNDLE]
    assert agent["Label"] == "app.pelagrin.helper.plist", "bootout names the job gui/<uid>/app.pelagrin.helper.plist"
    assert agent["RunAtLoad"] is True and agent["ProcessType"] == "Background"
    assert agent["KeepAlive"] == {"Crashed": True}, "a helper that exits 1 on a taken port is not relaunched in a loop"
    assert agent["LimitLoadToSessionType"] in ("Aqua", ["Aqua"])


@pytest.fixture(scope="module")
def mac_build(tmp_path_factory):
    """A Mac's default configure, tests included; GoogleTest is this machine's, as brew's would be there."""
    build = tmp_path_factory.mktemp("mac")
    cache = (Path(os.environ["BUILD_DIR"]) / "CMakeCache.txt").read_text()
    subprocess.run([os.environ["CMAKE_COMMAND"], "-S", SOURCE, "-B", build, "-G", "Unix Makefiles",
                    f"-DCMAKE_TOOLCHAIN_FILE={SOURCE}/tests/packaging/darwin-generate.cmake",
                    "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++", "-DCMAKE_OBJCXX_COMPILER=clang++",
                    "-DCMAKE_OSX_ARCHITECTURES=arm64", "-DCMAKE_OSX_DEPLOYMENT_TARGET=13.0", "-DPELAGRIN_BUILD_BENCH=OFF",
                    "-DGTest_DIR=" + re.search(r"^GTest_DIR:PATH=(.*)$", cache, re.M)[1]], check=True, capture_output=True)
    return build


@linux_only
def test_mac_build_runs_the_portable_tests_and_the_smoke_test_of_the_real_walks(mac_build):
    ctest = Path(os.environ["CMAKE_COMMAND"]).with_name("ctest")
    listed = re.findall(r"Test +#\d+: (\S+)", subprocess.run([ctest, "-N"], cwd=mac_build, capture_output=True, text=True).stdout)
    assert set(listed) - {"packaging.shellcheck"} == {"telemetry_test", "client_table_test", "installer_app_test",
                                                      "stream", "report", "packaging", "macos_smoke_test"}


def test_macos_workflow_builds_tests_signs_and_lints_on_apple_silicon():
    yaml = pytest.importorskip("yaml")
    job = yaml.safe_load((SOURCE / ".github/workflows/macos.yml").read_text())["jobs"]["build-and-test"]
    assert job["runs-on"] in ("macos-14", "macos-15", "macos-latest"), "hosted Apple-silicon runners"
    script = "\n".join(step.get("run", "") for step in job["steps"])
    for command in ("make test", "packaging/sign.sh", "codesign --verify --strict", "PELAGRIN_FILLED_AGENT", "plutil -lint"):
        assert command in script


@linux_only
@pytest.mark.parametrize("bundle, identifier, frameworks, target", [
    ("helper/PelagrinHelper.app", "app.pelagrin.helper", {"IOKit", "CoreFoundation"}, "helper/CMakeFiles/PelagrinHelper.dir"),
    ("HelperInstaller.app", "app.pelagrin.helper-installer", {"AppKit", "Foundation"}, "CMakeFiles/HelperInstaller.dir"),
    ("pelagrin-sensors", None, {"IOKit", "CoreFoundation"}, "helper/CMakeFiles/pelagrin-sensors.dir"),
])
def test_mac_programs_are_arm64_for_macos_13(mac_build, bundle, identifier, frameworks, target):
    if identifier:
        info = plistlib.loads((mac_build / bundle / "Contents/Info.plist").read_bytes())
        assert "" not in info.values(), "CMake fills a misspelt variable with nothing"
        assert (info["CFBundleIdentifier"], info["CFBundleExecutable"], info["LSMinimumSystemVersion"]) == (
            identifier, Path(bundle).stem, "13.0")
        assert info.get("LSUIElement", True) is True
    else:  # a plain tool beside the apps, where sign.sh looks for it
        assert f" -o ../{bundle} " in (mac_build / target / "link.txt").read_text()
    assert set(re.findall(r"-framework (\w+)", (mac_build / target / "link.txt").read_text())) == frameworks
    assert "-arch arm64" in (mac_build / target / "flags.make").read_text()


@linux_only
def test_mac_installer_carries_the_built_helper_and_template(mac_build):
    assert "-fobjc-arc" in (mac_build / "CMakeFiles/HelperInstaller.dir/flags.make").read_text()
    rules = (mac_build / "CMakeFiles/HelperInstallerResources.dir/build.make").read_text()
    resources, template = mac_build / "HelperInstaller.app/Contents/Resources", SOURCE / "installer/resources/app.pelagrin.helper.plist"
    assert f"ditto {mac_build}/helper/PelagrinHelper.app {resources}/PelagrinHelper.app" in rules
    assert f"copy {template} {resources}/" in rules
    inputs = re.findall(r"^HelperInstaller-resources\.stamp: (\S+)$", rules, re.M)
    assert "helper/PelagrinHelper.app/Contents/MacOS/PelagrinHelper" in inputs and str(template) in inputs


@pytest.fixture
def signing(tmp_path):
    installer = tmp_path / "HelperInstaller.app"
    helper = installer / "Contents/Resources/PelagrinHelper.app"
    (tmp_path / "pelagrin-sensors").write_text("")
    (tmp_path / "pelagrin-sensors").chmod(0o755)
    for bundle in (installer, helper):
        (bundle / "Contents/MacOS").mkdir(parents=True)
        (bundle / "Contents/Info.plist").write_text("<plist/>")
        (bundle / "Contents/MacOS" / bundle.stem).write_text("")
        (bundle / "Contents/MacOS" / bundle.stem).chmod(0o755)
    (tmp_path / "codesign").write_text(f"#!{sys.executable}\nimport json, os, sys\n"
                                       "open(os.environ['LOG'], 'a').write(json.dumps(sys.argv[1:]) + '\\n')\n"
                                       "sys.exit('--sign' in sys.argv and sys.argv[-1] == os.environ.get('FAIL_ON'))\n")
    (tmp_path / "codesign").chmod(0o755)

    def sign(*args, fail_on=""):
        env = dict(os.environ, LOG=str(tmp_path / "log"), FAIL_ON=fail_on, PATH=f"{tmp_path}:{os.environ['PATH']}")
        result = subprocess.run(["bash", SOURCE / "packaging/sign.sh", *args], env=env, capture_output=True, text=True)
        calls = [json.loads(line) for line in (tmp_path / "log").read_text().splitlines()] if (tmp_path / "log").exists() else []
        return result, calls
    return installer, helper, sign


@pytest.mark.parametrize("identity", ["-", "Developer ID Application: R&D Lab (TEAM123456)"])
def test_sign_script_signs_the_inner_app_first_with_the_hardened_runtime(signing, identity):
    installer, helper, sign = signing
    result, calls = sign(identity, str(installer))
    assert result.returncode == 0, result.stderr
    signed = [call for call in calls if "--sign" in call]
    tool = str(installer.with_name("pelagrin-sensors"))
    assert [call[-1] for call in signed] == [str(helper), str(installer), tool]
    for call, identifier in zip(signed, ["app.pelagrin.helper", "app.pelagrin.helper-installer", "app.pelagrin.sensors"]):
        options = dict(zip(call, call[1:]))
        assert (options["--options"], options["--identifier"], options["--sign"]) == ("runtime", identifier, identity)
        assert "--force" in call and "--deep" not in call and not any(a.startswith("--entitlements") for a in call)
        assert ("--timestamp" in call) == (identity != "-"), "only a real identity can get a secure timestamp"
    verified = [call for call in calls if "--verify" in call]
    assert [call[-1] for call in verified] == [str(installer), tool] and {"--strict", "--deep"} <= set(verified[0])


def test_sign_script_stops_at_a_missing_or_failed_inner_app(signing):
    installer, helper, sign = signing
    result, calls = sign("-", str(installer), fail_on=str(helper))
    assert result.returncode != 0 and [call[-1] for call in calls] == [str(helper)]
    (helper / "Contents/MacOS/PelagrinHelper").unlink()
    result, later = sign("-", str(installer))
    assert result.returncode != 0 and "PelagrinHelper" in result.stderr and later == calls


@linux_only
def test_linux_install_tree_works_from_any_prefix(tmp_path):
    stage = tmp_path / "stage"
    env = dict(os.environ, DESTDIR=str(stage))
    subprocess.run([os.environ["CMAKE_COMMAND"], "--install", os.environ["BUILD_DIR"], "--prefix", "/opt/pelagrin"],
                   env=env, check=True, capture_output=True)
    prefix = stage / "opt/pelagrin"
    tree = lambda root: {str(p.relative_to(root)): os.access(p, os.X_OK) for p in root.rglob("*") if p.is_file()}
    assert tree(prefix / "libexec/pelagrin/HelperInstaller.app") == tree(Path(os.environ["INSTALLER_BUNDLE"]))
    assert subprocess.run([prefix / "bin/pelagrin-sensors", "--help"], capture_output=True).returncode == 0
    program = prefix / "bin/HelperInstaller"
    assert program.is_symlink() and not os.path.isabs(os.readlink(program)), "a staged tree keeps working once moved"
    (prefix / "libexec/pelagrin/HelperInstaller.app/Contents/Resources/app.pelagrin.helper.desktop").unlink()
    (tmp_path / "home").mkdir()
    shown = subprocess.run([program], input="Install\n\n", env=dict(os.environ, HOME=str(tmp_path / "home")),
                           capture_output=True, text=True, timeout=30).stdout
    # It stops at its resource check, before any command: so it found the helper beside it.
    assert "Could not find the embedded LaunchAgent plist." in shown and not any((tmp_path / "home").iterdir())
