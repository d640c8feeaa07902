"""Generates the Mac build on Linux (see darwin-generate.cmake) and checks what
cmake/Apple.cmake made of it: the bundles' Info.plists, the system frameworks
each program links, and the step that fills the installer's Resources."""

import os
import plistlib
import re
import subprocess
import tempfile
import unittest
from pathlib import Path


class AppleBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.build = Path(cls.tmp.name)
        env = os.environ
        for compiler in ("CLANG", "CLANGXX"):
            if not os.path.isfile(env.get(compiler, "")):
                raise AssertionError("clang and clang++ are needed to generate the Mac build")
        result = subprocess.run([
            env["CMAKE_COMMAND"], "-S", env["SOURCE_DIR"], "-B", str(cls.build),
            "-G", "Unix Makefiles",
            f"-DCMAKE_TOOLCHAIN_FILE={env['DARWIN_TOOLCHAIN']}",
            f"-DCMAKE_C_COMPILER={env['CLANG']}",
            f"-DCMAKE_CXX_COMPILER={env['CLANGXX']}",
            f"-DCMAKE_OBJCXX_COMPILER={env['CLANGXX']}",
            "-DCMAKE_OSX_ARCHITECTURES=arm64", "-DCMAKE_OSX_DEPLOYMENT_TARGET=13.0",
            "-DPELAGRIN_BUILD_TESTS=OFF", "-DPELAGRIN_BUILD_BENCH=OFF",
        ], capture_output=True, text=True)
        if result.returncode != 0:
            cls.tmp.cleanup()
            raise AssertionError("generating the Mac build failed:\n" + result.stdout + result.stderr)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def read(self, relative):
        return (self.build / relative).read_text()

    def info_plist(self, bundle):
        with open(self.build / bundle / "Contents" / "Info.plist", "rb") as f:
            info = plistlib.load(f)
        # CMake fills a misspelt template variable with an empty string.
        for key, value in info.items():
            self.assertNotEqual(value, "", f"{key} is empty in {bundle}")
        return info

    def frameworks(self, target_dir):
        return set(re.findall(r"-framework (\w+)", self.read(f"{target_dir}/link.txt")))

    def test_helper_bundle(self):
        info = self.info_plist("helper/PelagrinHelper.app")
        self.assertEqual(info["CFBundleIdentifier"], "app.pelagrin.helper")
        self.assertEqual(info["CFBundleExecutable"], "PelagrinHelper")
        self.assertIs(info["LSUIElement"], True)
        self.assertEqual(info["LSMinimumSystemVersion"], "13.0")

    def test_installer_bundle(self):
        info = self.info_plist("HelperInstaller.app")
        self.assertEqual(info["CFBundleIdentifier"], "app.pelagrin.helper-installer")
        self.assertEqual(info["CFBundleExecutable"], "HelperInstaller")
        self.assertEqual(info["LSMinimumSystemVersion"], "13.0")

    def test_system_frameworks(self):
        self.assertEqual(self.frameworks("helper/CMakeFiles/PelagrinHelper.dir"),
                         {"IOKit", "CoreFoundation"})
        self.assertEqual(self.frameworks("CMakeFiles/HelperInstaller.dir"),
                         {"AppKit", "Foundation"})

    def test_installer_front_uses_arc(self):
        self.assertIn("-fobjc-arc", self.read("CMakeFiles/HelperInstaller.dir/flags.make"))

    def test_resources_follow_the_built_helper(self):
        rules = self.read("CMakeFiles/HelperInstallerResources.dir/build.make")
        resources = self.build / "HelperInstaller.app/Contents/Resources"
        template = Path(os.environ["SOURCE_DIR"]) / "installer/resources/app.pelagrin.helper.plist"
        self.assertIn(f"ditto {self.build}/helper/PelagrinHelper.app {resources}/PelagrinHelper.app", rules)
        self.assertIn(f"copy {template} {resources}/", rules)
        # A rebuilt helper or an edited template must be copied again.
        stamp_inputs = re.findall(r"^HelperInstaller-resources\.stamp: (\S+)$", rules, re.M)
        self.assertIn("helper/PelagrinHelper.app/Contents/MacOS/PelagrinHelper", stamp_inputs)
        self.assertIn(str(template), stamp_inputs)


if __name__ == "__main__":
    unittest.main()
