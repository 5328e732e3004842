#!/usr/bin/env python3
"""Reads a release's package manifests back as the package managers do and
checks what binds them to that release: the zip's hash and permanent URL,
the exe inside it, and the winget files' agreement with each other.

  manifests.py DIST OWNER/NAME

winget reads every YAML scalar as a string, apart from a fixed list of
integer and boolean fields, none of which these files use: so they are read
with PyYAML's BaseLoader, which makes every scalar a string (its SafeLoader
would turn ReleaseDate into a date)."""
import hashlib
import json
import re
import sys
import zipfile
from pathlib import Path

import yaml

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def main(dist, repository):
    dist = Path(dist)
    archive = next(dist.glob("hushpane-*-windows-x64.zip"))
    version = re.fullmatch(r"hushpane-(.+)-windows-x64\.zip", archive.name).group(1)
    zip_sha256 = hashlib.sha256(archive.read_bytes()).hexdigest()
    url = f"https://github.com/{repository}/releases/download/v{version}/{archive.name}"
    zipped = zipfile.ZipFile(archive).namelist()

    raw = (dist / "hushpane.json").read_bytes()
    check(not raw.startswith(b"\xef\xbb\xbf"), "hushpane.json starts with a byte-order mark")
    check(b'\n    "version"' in raw, "hushpane.json is not indented by 4 spaces")
    scoop = json.loads(raw)
    check(scoop["version"] == version, f"Scoop's version {scoop['version']}, not {version}")
    release = scoop["architecture"]["64bit"]
    check(release["url"] == url, f"Scoop's URL {release['url']}, not the tag's zip {url}")
    check(release["hash"].lower() == zip_sha256, "Scoop's hash is not the zip's")
    check(scoop["bin"] in zipped, f"Scoop's bin {scoop['bin']} is not in the zip")
    check(all(shortcut[0] in zipped for shortcut in scoop["shortcuts"]), "a Scoop shortcut names no file of the zip")
    check(scoop["homepage"] == f"https://github.com/{repository}" and scoop["checkver"] == "github",
          "Scoop's checkver cannot find the repository's releases")
    updated = scoop["autoupdate"]["architecture"]["64bit"]["url"].replace("$version", version)
    check(updated == url, f"Scoop's autoupdate URL gives {updated} for {version}, not {url}")
    sums = scoop["autoupdate"]["hash"]["url"].replace("$baseurl", url.rsplit("/", 1)[0])
    check(sums == url.rsplit("/", 1)[0] + "/SHA256SUMS", f"Scoop's autoupdate hash is read from {sums}")
    check(f"{zip_sha256}  {archive.name}" in (dist / "SHA256SUMS").read_text().splitlines(),
          "SHA256SUMS has no line for the zip, where Scoop's autoupdate looks for its hash")

    files = sorted((dist / "winget").iterdir())
    kinds = {}
    for path in files:
        text = path.read_text(encoding="utf-8")
        fields = yaml.load(text, Loader=yaml.BaseLoader)
        kind = fields["ManifestType"]
        kinds[kind] = (path.name, fields)
        header = text.splitlines()[0]
        check(header == "# yaml-language-server: $schema=https://aka.ms/winget-manifest."
                        f"{kind}.{fields['ManifestVersion']}.schema.json", f"{path.name}: header {header!r}")
    check(sorted(kinds) == ["defaultLocale", "installer", "version"], f"winget manifests of types {sorted(kinds)}")
    if sorted(kinds) != ["defaultLocale", "installer", "version"]:
        return report()
    agreed = {(f["PackageIdentifier"], f["PackageVersion"], f["ManifestVersion"]) for _, f in kinds.values()}
    check(len(agreed) == 1, f"the winget files disagree on identifier, version or manifest version: {agreed}")
    identifier, package_version, _ = sorted(agreed)[0]
    check(package_version == version, f"winget's version {package_version}, not {version}")
    check(identifier == repository.split("/")[0] + ".Hushpane", f"identifier {identifier}")
    names = {kind: name for kind, (name, _) in kinds.items()}
    locale = kinds["defaultLocale"][1]
    check(names == {"version": f"{identifier}.yaml", "installer": f"{identifier}.installer.yaml",
                    "defaultLocale": f"{identifier}.locale.{locale['PackageLocale']}.yaml"}, f"file names {names}")
    check(kinds["version"][1]["DefaultLocale"] == locale["PackageLocale"], "DefaultLocale is not PackageLocale")
    for field in ("Publisher", "PackageName", "License", "ShortDescription", "PublisherUrl", "PackageUrl", "LicenseUrl",
                  "Moniker", "ReleaseNotesUrl"):
        check(locale.get(field), f"the default-locale file has no {field}")
    installer = kinds["installer"][1]
    check((installer["InstallerType"], installer["NestedInstallerType"]) == ("zip", "portable"),
          "not a portable exe in a zip")
    nested = installer["NestedInstallerFiles"]
    check(len(nested) == 1 and nested[0]["RelativeFilePath"] in zipped and nested[0]["PortableCommandAlias"],
          f"the nested exe {nested} is not in the zip, or has no alias")
    check(re.fullmatch(r"\d{4}-\d\d-\d\d", installer["ReleaseDate"]) is not None,
          f"ReleaseDate {installer['ReleaseDate']!r} is not a date read as a string")
    [x64] = installer["Installers"]
    check(x64["Architecture"] == "x64" and x64["InstallerUrl"] == url, f"winget's installer {x64}, not the tag's zip")
    check(x64["InstallerSha256"].lower() == zip_sha256, "winget's InstallerSha256 is not the zip's")
    return report()


def report():
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print("manifests: Scoop's and winget's bind to this release's zip")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
