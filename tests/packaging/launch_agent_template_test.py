"""The LaunchAgent template (AGENT_TEMPLATE) must parse as a property list,
also once filled in with a path that holds XML markup characters, and carry
the keys launchd acts on."""

import os
import plistlib
import unittest
from xml.parsers.expat import ExpatError
from xml.sax.saxutils import escape

PLACEHOLDER = "__INSTALL_PATH__"
HELPER_IN_BUNDLE = "/PelagrinHelper.app/Contents/MacOS/PelagrinHelper"
# The installer stops an earlier helper with `launchctl bootout` on this
# target; launchd resolves its last part against the job's Label.
AGENT_TARGET = "gui/501/app.pelagrin.helper.plist"


def parse(text):
    return plistlib.loads(text.encode("utf-8"), fmt=plistlib.FMT_XML)


def string_values(node):
    if isinstance(node, str):
        yield node
    elif isinstance(node, dict):
        for value in node.values():
            yield from string_values(value)
    elif isinstance(node, list):
        for value in node:
            yield from string_values(value)


class LaunchAgentTemplateTest(unittest.TestCase):
    def setUp(self):
        with open(os.environ["AGENT_TEMPLATE"], encoding="utf-8") as f:
            self.template = f.read()

    def fill(self, install_dir):
        # As the installer does: the path is XML-escaped before it goes in.
        return self.template.replace(PLACEHOLDER, escape(install_dir))

    def test_template_parses_with_placeholder(self):
        agent = parse(self.template)
        self.assertEqual(agent["ProgramArguments"][0], PLACEHOLDER + HELPER_IN_BUNDLE)

    def test_filled_path_with_markup_characters(self):
        for install_dir in (
            "/Users/ann/Library/Application Support/Pelagrin",
            "/Users/R&D <lab>/Library/Application Support/Pelagrin",
        ):
            with self.subTest(install_dir=install_dir):
                agent = parse(self.fill(install_dir))
                self.assertEqual(agent["ProgramArguments"], [install_dir + HELPER_IN_BUNDLE])
                for value in string_values(agent):
                    self.assertNotIn(PLACEHOLDER, value)

    def test_unescaped_ampersand_is_rejected(self):
        # Shows the parser is strict enough for the case above to mean something.
        raw = self.template.replace(PLACEHOLDER, "/Users/R&D")
        with self.assertRaises(ExpatError):
            parse(raw)

    def test_launchd_keys(self):
        agent = parse(self.fill("/Users/ann/Library/Application Support/Pelagrin"))
        self.assertEqual(agent["Label"], AGENT_TARGET.rsplit("/", 1)[1])
        self.assertIs(agent["RunAtLoad"], True)
        # Crash-only restart: a helper that exits 1 because the port is taken
        # must not be relaunched in a loop.
        self.assertEqual(agent["KeepAlive"], {"Crashed": True})
        self.assertEqual(agent["ProcessType"], "Background")
        self.assertIn(agent["LimitLoadToSessionType"], ("Aqua", ["Aqua"]))


if __name__ == "__main__":
    unittest.main()
