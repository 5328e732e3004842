"""The winget manifests' YAML writer, read back with PyYAML: values that a YAML
reader would take for a number, a boolean, nothing or a date come back as the
strings that were written, alone and in whole manifests."""
import packages
import pytest
import yaml

TRICKY = ["1.10", "1.0.0", "10", "-5", "0x1F", ".inf", "12:30", "2026-12-09", "yes", "No", "on", "OFF", "y",
          "null", "~", "true", "a: b", "trailing:", "it's", "# no comment", "text # no comment", "plain text",
          "https://github.com/example-owner/hushpane", "Makes the Windows taskbar invisible; Ctrl+0 shows it."]


@pytest.mark.parametrize("value", TRICKY)
def test_each_value_reads_back_as_written(value):
    line = f"key: {packages.yaml_scalar(value)}\n"
    assert yaml.safe_load(line) == {"key": value}, line


def test_manifests_of_a_release_numbered_like_a_float():
    manifests = packages.winget("no/hushpane", "1.10", "ab" * 32, 1796774400)
    for text in manifests.values():
        fields = yaml.safe_load(text)
        assert fields["PackageVersion"] == "1.10"
        assert fields["ManifestVersion"] == packages.WINGET_MANIFEST_VERSION
        assert all(isinstance(value, (str, list)) for value in fields.values()), fields
    installer = yaml.safe_load(manifests["no.Hushpane.installer.yaml"])
    assert installer["ReleaseDate"] == "2026-12-09"
    assert installer["Installers"][0]["InstallerSha256"] == "AB" * 32
