"""The manifests with which Windows' package managers install a release's
zip: Scoop's dist/hushpane.json and winget's three files in dist/winget/.
Only a release knows both what they carry: the zip's permanent URL on the
repository's release page, and the zip's SHA-256."""
import json
import re
import subprocess
import time

WINGET_MANIFEST_VERSION = "1.12.0"  # the newest that winget's community repository accepts
WINGET_LOCALE = "en-US"
DESCRIPTION = "Makes the Windows taskbar invisible; Ctrl+0 shows it for twenty seconds."
LICENSE = "MIT"
REPOSITORY = re.compile(r"[A-Za-z0-9](?:[A-Za-z0-9-]{0,38})/[A-Za-z0-9._-]{1,100}")


def origin_repository(source):
    """OWNER/NAME of the checkout's origin remote, if it is on GitHub."""
    result = subprocess.run(["git", "-C", str(source), "remote", "get-url", "origin"], capture_output=True, text=True)
    match = re.fullmatch(r"(?:https://github\.com/|git@github\.com:|ssh://git@github\.com/)(.+?)(?:\.git)?/?",
                         result.stdout.strip())
    return match.group(1) if result.returncode == 0 and match and REPOSITORY.fullmatch(match.group(1)) else None


def zip_name(version):
    """The release's zip, as the release page, the manifests and the guide name it."""
    return f"hushpane-{version}-windows-x64.zip"


def zip_url(repository, version):
    """The zip's permanent address, on the release page of the tag vVERSION."""
    return f"https://github.com/{repository}/releases/download/v{version}/{zip_name(version)}"


def scoop(repository, version, zip_sha256):
    manifest = {
        "version": version,
        "description": DESCRIPTION,
        "homepage": f"https://github.com/{repository}",
        "license": LICENSE,
        "notes": "Choose Exit from Hushpane's menu before scoop update or scoop uninstall: Scoop cannot replace a "
                 "running program.",
        "architecture": {"64bit": {"url": zip_url(repository, version), "hash": zip_sha256}},
        "bin": "hushpane.exe",
        "shortcuts": [["hushpane.exe", "Hushpane"]],
        "checkver": "github",
        "autoupdate": {
            "architecture": {"64bit": {"url": zip_url(repository, "$version")}},
            "hash": {"url": "$baseurl/SHA256SUMS"},
        },
    }
    return json.dumps(manifest, indent=4, ensure_ascii=False) + "\n"


# Plain words that a YAML 1.1 reader (PyYAML's, for one) or a 1.2 reader takes for a
# boolean or for nothing, in any case. Numbers, dates and times start with a digit, a
# sign or a dot, and so never stand plain here.
YAML_WORDS = {"y", "n", "yes", "no", "true", "false", "on", "off", "null", "~"}


def yaml_scalar(value):
    """Plain only where any YAML reader reads it back as this very string: it starts
    with a letter, is none of YAML_WORDS, and holds nothing that ends a plain scalar or
    starts a comment; anything else in single quotes."""
    plain = (re.fullmatch(r"[A-Za-z][^\s'\"]*(?: [^\s'\"]+)*", value) and value.lower() not in YAML_WORDS
             and ": " not in value and " #" not in value and not value.endswith(":"))
    return value if plain else "'" + value.replace("'", "''") + "'"


def yaml_file(kind, fields):
    """A winget manifest: the schema header of its type, then its fields in order."""
    lines = [f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.{WINGET_MANIFEST_VERSION}"
             ".schema.json", ""]
    for key, value in fields:
        if isinstance(value, list):  # a list of mappings
            lines.append(f"{key}:")
            for item in value:
                for i, (inner, text) in enumerate(item):
                    lines.append(f"  {'- ' if i == 0 else '  '}{inner}: {yaml_scalar(text)}")
        else:
            lines.append(f"{key}: {yaml_scalar(value)}")
    lines += [f"ManifestType: {yaml_scalar(kind)}", f"ManifestVersion: {yaml_scalar(WINGET_MANIFEST_VERSION)}"]
    return "\n".join(lines) + "\n"


def winget(repository, version, zip_sha256, when):
    """{file name: text}: the version, installer and default-locale files."""
    owner = repository.split("/")[0]
    identifier = f"{owner}.Hushpane"
    ids = [("PackageIdentifier", identifier), ("PackageVersion", version)]
    home = f"https://github.com/{repository}"
    return {
        f"{identifier}.yaml": yaml_file("version", ids + [("DefaultLocale", WINGET_LOCALE)]),
        f"{identifier}.installer.yaml": yaml_file("installer", ids + [
            ("InstallerType", "zip"),
            ("NestedInstallerType", "portable"),
            ("NestedInstallerFiles", [[("RelativeFilePath", "hushpane.exe"), ("PortableCommandAlias", "hushpane")]]),
            ("ReleaseDate", time.strftime("%Y-%m-%d", time.gmtime(when))),
            ("Installers", [[("Architecture", "x64"), ("InstallerUrl", zip_url(repository, version)),
                             ("InstallerSha256", zip_sha256.upper())]]),
        ]),
        f"{identifier}.locale.{WINGET_LOCALE}.yaml": yaml_file("defaultLocale", ids + [
            ("PackageLocale", WINGET_LOCALE),
            ("Publisher", owner),
            ("PublisherUrl", f"https://github.com/{owner}"),
            ("PackageName", "Hushpane"),
            ("PackageUrl", home),
            ("License", LICENSE),
            ("LicenseUrl", f"{home}/blob/v{version}/LICENSE"),
            ("ShortDescription", DESCRIPTION),
            ("Moniker", "hushpane"),
            ("ReleaseNotesUrl", f"{home}/releases/tag/v{version}"),
        ]),
    }


def write(out, repository, version, zip_sha256, when):
    """Writes the manifests into `out`; returns their paths."""
    (out / "hushpane.json").write_text(scoop(repository, version, zip_sha256), encoding="utf-8", newline="\n")
    written = [out / "hushpane.json"]
    (out / "winget").mkdir()
    for name, text in winget(repository, version, zip_sha256, when).items():
        (out / "winget" / name).write_text(text, encoding="utf-8", newline="\n")
        written.append(out / "winget" / name)
    return written
