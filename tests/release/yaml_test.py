#!/usr/bin/env python3
"""The winget manifests' YAML writer, read back with PyYAML: values that a YAML
reader would take for a number, a boolean, nothing or a date come back as the
strings that were written, alone and in whole manifests."""
import sys
import unittest
from pathlib import Path

import yaml

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "lib"))
import packages  # noqa: E402

TRICKY = ["1.10", "1.0.0", "10", "-5", "0x1F", ".inf", "12:30", "2026-12-09", "yes", "No", "on", "OFF", "y",
          "null", "~", "true", "a: b", "trailing:", "it's", "# no comment", "text # no comment", "plain text",
          "https://github.com/example-owner/hushpane", "Makes the Windows taskbar invisible; Ctrl+0 shows it."]


class YamlScalars(unittest.TestCase):
    def test_each_value_reads_back_as_written(self):
        for value in TRICKY:
            with self.subTest(value):
                line = f"key: {packages.yaml_scalar(value)}\n"
                self.assertEqual(yaml.safe_load(line), {"key": value}, line)

    def test_manifests_of_a_release_numbered_like_a_float(self):
        manifests = packages.winget("no/hushpane", "1.10", "ab" * 32, 1796774400)
        for name, text in manifests.items():
            fields = yaml.safe_load(text)
            with self.subTest(name):
                self.assertEqual(fields["PackageVersion"], "1.10")
                self.assertEqual(fields["ManifestVersion"], packages.WINGET_MANIFEST_VERSION)
                self.assertTrue(all(isinstance(value, (str, list)) for value in fields.values()), fields)
        installer = yaml.safe_load(manifests["no.Hushpane.installer.yaml"])
        self.assertEqual(installer["ReleaseDate"], "2026-12-09")
        self.assertEqual(installer["Installers"][0]["InstallerSha256"], "AB" * 32)


if __name__ == "__main__":
    unittest.main()
