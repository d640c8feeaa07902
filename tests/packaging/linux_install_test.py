"""`cmake --install` of the Linux build: the installed installer tree must match
the build tree's, start from bin/, and find its resources where it lies."""

import os
import subprocess
import tempfile
import unittest
from pathlib import Path

BUILD_DIR = os.environ.get("BUILD_DIR", "")
BUILD_TREE_BUNDLE = Path(os.environ.get("BUILD_TREE_BUNDLE", ""))
INSTALLED_BUNDLE = os.environ.get("INSTALLED_BUNDLE", "")  # relative to the prefix


def tree(root):
    """Each file under root, relative, with whether it is executable."""
    return {str(path.relative_to(root)): os.access(path, os.X_OK)
            for path in root.rglob("*") if path.is_file()}


class LinuxInstallTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = Path(self.tmp.name)

    def tearDown(self):
        self.tmp.cleanup()

    def install(self, prefix, destdir=None):
        env = dict(os.environ)
        env.pop("DESTDIR", None)
        if destdir:
            env["DESTDIR"] = str(destdir)
        result = subprocess.run([os.environ["CMAKE_COMMAND"], "--install", BUILD_DIR, "--prefix", str(prefix)],
                                env=env, capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def run_installer(self, program, answers):
        home = self.root / "home"
        home.mkdir(exist_ok=True)
        result = subprocess.run([str(program)], input=answers, env=dict(os.environ, HOME=str(home)),
                                capture_output=True, text=True, timeout=30)
        return result, home

    def test_installed_tree_matches_the_build_tree(self):
        prefix = self.root / "prefix"
        self.install(prefix)
        self.assertEqual(tree(prefix / INSTALLED_BUNDLE), tree(BUILD_TREE_BUNDLE))

    def test_staged_install_starts_from_bin(self):
        stage = self.root / "stage"
        self.install("/opt/pelagrin", destdir=stage)
        program = stage / "opt/pelagrin/bin/HelperInstaller"
        self.assertTrue(program.is_symlink())
        self.assertFalse(os.path.isabs(os.readlink(program)), "a staged tree must keep working once moved")
        result, home = self.run_installer(program, "Cancel\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Pelagrin Sensor Helper", result.stdout)
        self.assertEqual(list(home.iterdir()), [])

    def test_installed_installer_finds_its_resources(self):
        prefix = self.root / "prefix"
        self.install(prefix)
        # Without the template the install stops at its resource check, before
        # any command runs, and says which resource it found missing: so the
        # helper was found among the installed resources.
        (prefix / INSTALLED_BUNDLE / "Contents/Resources/app.pelagrin.helper.desktop").unlink()
        result, home = self.run_installer(prefix / "bin/HelperInstaller", "Install\n\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Could not find the embedded LaunchAgent plist.", result.stdout)
        self.assertNotIn("Could not find the embedded helper app", result.stdout)
        self.assertEqual(list(home.iterdir()), [])


if __name__ == "__main__":
    unittest.main()
