"""packaging/sign.sh run against a stub codesign that records its calls.
SIGN_SCRIPT names the script under test."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

STUB = f"""#!{sys.executable}
import json, os, sys
with open(os.environ["CODESIGN_LOG"], "a") as log:
    log.write(json.dumps(sys.argv[1:]) + "\\n")
failing = os.environ.get("CODESIGN_FAIL_ON")
sys.exit(1 if failing and "--sign" in sys.argv and sys.argv[-1] == failing else 0)
"""
BASH = shutil.which("bash")


def make_bundle(path, executable):
    (path / "Contents" / "MacOS").mkdir(parents=True)
    (path / "Contents" / "Info.plist").write_text("<plist/>")
    program = path / "Contents" / "MacOS" / executable
    program.write_text("")
    program.chmod(0o755)


class SignScriptTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        root = Path(self.tmp.name)
        self.installer = root / "HelperInstaller.app"
        self.helper = self.installer / "Contents" / "Resources" / "PelagrinHelper.app"
        make_bundle(self.installer, "HelperInstaller")
        make_bundle(self.helper, "PelagrinHelper")
        stub_dir = root / "bin"
        stub_dir.mkdir()
        stub = stub_dir / "codesign"
        stub.write_text(STUB)
        stub.chmod(0o755)
        self.log = root / "codesign.log"
        self.env = dict(os.environ, CODESIGN_LOG=str(self.log),
                        PATH=f"{stub_dir}{os.pathsep}{os.environ['PATH']}")

    def tearDown(self):
        self.tmp.cleanup()

    def run_script(self, *args, env=None):
        return subprocess.run([BASH, os.environ["SIGN_SCRIPT"], *args],
                              env=env or self.env, capture_output=True, text=True)

    def calls(self):
        if not self.log.exists():
            return []
        return [json.loads(line) for line in self.log.read_text().splitlines()]

    def signing_calls(self):
        return [call for call in self.calls() if "--sign" in call]

    def check_signed(self, identity, timestamped):
        result = self.run_script(identity, str(self.installer))
        self.assertEqual(result.returncode, 0, result.stderr)
        signing = self.signing_calls()
        self.assertEqual([call[-1] for call in signing], [str(self.helper), str(self.installer)],
                         "inner app first, then the installer")
        for call, identifier in zip(signing, ["app.pelagrin.helper", "app.pelagrin.helper-installer"]):
            self.assertIn("--force", call)
            self.assertEqual(call[call.index("--options") + 1], "runtime")
            self.assertEqual(call[call.index("--identifier") + 1], identifier)
            self.assertEqual(call[call.index("--sign") + 1], identity)
            self.assertEqual("--timestamp" in call, timestamped)
            self.assertNotIn("--deep", call)
            self.assertFalse([arg for arg in call if arg.startswith("--entitlements")])
        last = self.calls()[-1]
        self.assertEqual(last[-1], str(self.installer))
        for flag in ("--verify", "--strict", "--deep"):
            self.assertIn(flag, last)
        self.assertIn(str(self.helper), result.stdout)
        self.assertIn(str(self.installer), result.stdout)

    def test_ad_hoc_signing_has_no_timestamp(self):
        self.check_signed("-", timestamped=False)

    def test_identity_is_timestamped_and_passed_whole(self):
        self.check_signed("Developer ID Application: R&D Lab (TEAM123456)", timestamped=True)

    def test_missing_inner_app_stops_before_signing(self):
        (self.helper / "Contents" / "MacOS" / "PelagrinHelper").unlink()
        result = self.run_script("-", str(self.installer))
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("PelagrinHelper", result.stderr)
        self.assertEqual(self.calls(), [])

    def test_failed_inner_signature_leaves_installer_unsigned(self):
        env = dict(self.env, CODESIGN_FAIL_ON=str(self.helper))
        result = self.run_script("-", str(self.installer), env=env)
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual([call[-1] for call in self.signing_calls()], [str(self.helper)])


if __name__ == "__main__":
    unittest.main()
