"""What ships: the Mac build as cmake/Apple.cmake generates it (clang posing as
Apple's compiler, see darwin-generate.cmake), the macOS CI workflow,
packaging/sign.sh against a stub codesign, and the Linux install tree."""
import json, os, plistlib, re, shlex, subprocess, sys
from pathlib import Path

import pytest

from conftest import linux_only

SOURCE = Path(os.environ["SOURCE_DIR"])


@linux_only
def test_the_mac_build_makes_arm64_programs_for_macos_13_and_runs_the_portable_tests(tmp_path):
    # A Mac's release configure, tests included, with this machine's GoogleTest standing in for
    # brew's and /usr/bin/true for leaks.
    mac, cache = tmp_path, (Path(os.environ["BUILD_DIR"]) / "CMakeCache.txt").read_text()
    subprocess.run(
        [
            os.environ["CMAKE_COMMAND"],
            "-S",
            SOURCE,
            "-B",
            mac,
            "-G",
            "Unix Makefiles",
            f"-DCMAKE_TOOLCHAIN_FILE={SOURCE}/tests/packaging/darwin-generate.cmake",
            "-DCMAKE_C_COMPILER=clang",
            "-DCMAKE_CXX_COMPILER=clang++",
            "-DCMAKE_OBJCXX_COMPILER=clang++",
            "-DCMAKE_SYSTEM_NAME=Darwin",
            "-DCMAKE_BUILD_TYPE=Release",
            "-DPELAGRIN_BUILD_BENCH=OFF",
            "-DLEAKS=/usr/bin/true",
            "-DGTest_DIR=" + re.search(r"^GTest_DIR:PATH=(.*)$", cache, re.M)[1],
        ],
        check=True,
        capture_output=True,
    )
    for bundle, identifier in (
        ("helper/PelagrinHelper.app", "app.pelagrin.helper"),
        ("HelperInstaller.app", "app.pelagrin.helper-installer"),
    ):
        info = plistlib.loads((mac / bundle / "Contents/Info.plist").read_bytes())
        assert "" not in info.values(), "CMake fills a misspelt variable with nothing"
        assert (
            info["CFBundleIdentifier"],
            info["CFBundleExecutable"],
            info["LSMinimumSystemVersion"],
        ) == (identifier, Path(bundle).stem, "13.0") and info.get("LSUIElement", True) is True
    for target, frameworks in (
        ("helper/CMakeFiles/PelagrinHelper.dir", {"IOKit", "CoreFoundation"}),
        ("helper/CMakeFiles/pelagrin-sensors.dir", {"IOKit", "CoreFoundation"}),
        ("CMakeFiles/HelperInstaller.dir", {"AppKit", "Foundation"}),
    ):
        assert (
            set(re.findall(r"-framework (\w+)", (mac / target / "link.txt").read_text()))
            == frameworks
        )
        assert "-arch arm64" in (mac / target / "flags.make").read_text()
    assert "-fobjc-arc" in (mac / "CMakeFiles/HelperInstaller.dir/flags.make").read_text()
    rules = (
        mac / "CMakeFiles/HelperInstallerResources.dir/build.make"
    ).read_text()  # a rebuilt helper is copied again
    assert re.search(
        r"^HelperInstaller-resources\.stamp: helper/PelagrinHelper.app/Contents/MacOS/PelagrinHelper$",
        rules,
        re.M,
    )
    assert (
        f"ditto {mac}/helper/PelagrinHelper.app {mac}/HelperInstaller.app/Contents/Resources/PelagrinHelper.app"
        in rules
    )
    commands = {}
    for testfile in mac.glob("**/CTestTestfile.cmake"):
        for name, arguments in re.findall(
            r"^add_test\(\[=\[(.+)\]=\] (.+)\)$", testfile.read_text(), re.M
        ):
            commands[name] = shlex.split(arguments)
    built = "\n".join(rules.read_text() for rules in mac.glob("**/build.make"))
    for name, command in commands.items():
        program = Path(command[0])
        assert "$<" not in " ".join(command), f"{name}: a generator expression CMake split"
        assert program.is_absolute(), name
        if program.is_relative_to(mac):
            assert re.search(rf"^{re.escape(str(program.relative_to(mac)))}:", built, re.M), name
    assert commands.keys() - {"packaging.shellcheck"} == {
        "telemetry_test",
        "client_table_test",
        "installer_app_test",
        "stream",
        "report",
        "packaging",
        "macos_smoke_test",
        "macos_smoke_leaks",
    }
    smoke = str(mac / "tests/macos_smoke_test")
    assert commands["macos_smoke_test"] == [smoke] and commands["macos_smoke_leaks"][-1] == smoke


def test_the_macos_workflow_runs_on_apple_silicon():
    yaml = pytest.importorskip("yaml")
    job = yaml.safe_load((SOURCE / ".github/workflows/macos.yml").read_text())["jobs"][
        "build-and-test"
    ]
    assert job["runs-on"] in (
        "macos-14",
        "macos-15",
        "macos-latest",
    ), "a hosted Apple-silicon runner"


def sign(tmp_path, *arguments, fail_on=""):
    """packaging/sign.sh run against a stub codesign; its result and the stub's calls."""
    (tmp_path / "codesign").write_text(
        f"#!{sys.executable}\nimport json, os, sys\n"
        "open(os.environ['LOG'], 'a').write(json.dumps(sys.argv[1:]) + '\\n')\n"
        "sys.exit('--sign' in sys.argv and sys.argv[-1] == os.environ['FAIL_ON'])\n"
    )
    (tmp_path / "codesign").chmod(0o755), (tmp_path / "log").write_text("")
    env = dict(
        os.environ,
        LOG=str(tmp_path / "log"),
        FAIL_ON=fail_on,
        PATH=f"{tmp_path}:{os.environ['PATH']}",
    )
    result = subprocess.run(
        ["bash", SOURCE / "packaging/sign.sh", *arguments], env=env, capture_output=True, text=True
    )
    return result, [json.loads(line) for line in (tmp_path / "log").read_text().splitlines()]


@pytest.mark.parametrize("identity", ["-", "Developer ID Application: R&D Lab (TEAM123456)"])
def test_sign_script_signs_the_inner_app_first_all_with_the_hardened_runtime(tmp_path, identity):
    built = installer, helper, sensors = (
        tmp_path / "HelperInstaller.app",
        tmp_path / "HelperInstaller.app/Contents/Resources/PelagrinHelper.app",
        tmp_path / "pelagrin-sensors",
    )
    for path in (
        installer / "Contents/MacOS/HelperInstaller",
        helper / "Contents/MacOS/PelagrinHelper",
        sensors,
        installer / "Contents/Info.plist",
        helper / "Contents/Info.plist",
    ):
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text("<plist/>" if path.suffix else ""), path.chmod(
            0o644 if path.suffix else 0o755
        )
    result, calls = sign(tmp_path, identity, str(installer), fail_on=str(helper))
    assert result.returncode != 0 and [call[-1] for call in calls] == [
        str(helper)
    ], "a failed inner app stops it"
    result, calls = sign(tmp_path, identity, str(installer))
    assert result.returncode == 0, result.stderr
    signed = [call for call in calls if "--sign" in call]
    assert [call[-1] for call in signed] == [str(code) for code in (built[1], built[0], built[2])]
    for call, identifier in zip(
        signed, ["app.pelagrin.helper", "app.pelagrin.helper-installer", "app.pelagrin.sensors"]
    ):
        options = dict(zip(call, call[1:]))
        assert (options["--options"], options["--identifier"], options["--sign"]) == (
            "runtime",
            identifier,
            identity,
        )
        assert (
            "--force" in call
            and "--deep" not in call
            and not any(a.startswith("--entitlements") for a in call)
        )
        assert ("--timestamp" in call) == (
            identity != "-"
        ), "only a real identity can get a secure timestamp"
    verified = [call for call in calls if "--verify" in call]
    assert [call[-1] for call in verified] == [str(built[0]), str(built[2])] and {
        "--strict",
        "--deep",
    } <= set(verified[0])


@linux_only
def test_the_linux_install_tree_works_from_any_prefix(tmp_path):
    subprocess.run(
        [
            os.environ["CMAKE_COMMAND"],
            "--install",
            os.environ["BUILD_DIR"],
            "--prefix",
            "/opt/pelagrin",
        ],
        env=dict(os.environ, DESTDIR=str(tmp_path / "stage")),
        check=True,
        capture_output=True,
    )
    prefix = tmp_path / "stage/opt/pelagrin"
    tree = lambda root: {
        str(p.relative_to(root)): os.access(p, os.X_OK) for p in root.rglob("*") if p.is_file()
    }
    assert tree(prefix / "libexec/pelagrin/HelperInstaller.app") == tree(
        Path(os.environ["INSTALLER_BUNDLE"])
    )
    assert (
        subprocess.run([prefix / "bin/pelagrin-sensors", "--help"], capture_output=True).returncode
        == 0
    )
    program = prefix / "bin/HelperInstaller"
    assert program.is_symlink() and not os.path.isabs(
        os.readlink(program)
    ), "a staged tree keeps working once moved"
    (
        prefix
        / "libexec/pelagrin/HelperInstaller.app/Contents/Resources/app.pelagrin.helper.desktop"
    ).unlink()
    shown = subprocess.run(
        [program],
        input="Install\n\n",
        env=dict(os.environ, HOME=str(tmp_path)),
        capture_output=True,
        text=True,
        timeout=30,
    ).stdout
    assert (
        "Could not find the embedded LaunchAgent plist." in shown
    ), "it stops there only once it found the helper"
