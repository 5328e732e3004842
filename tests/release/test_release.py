"""The release made twice from two fresh clones of the checkout's commit, in
folders with paths of different lengths, with a different umask, time zone
and locale and at different times, both with the package manifests: the same
bytes in every file. Then what a user checks: SHA256SUMS, the zip's entries
and its guide's verify command, no build path in the exes, the list of the
files that the release workflow attests and publishes, and manifests that
bind to this release's zip, read back as the package managers read them."""
import hashlib
import json
import os
import re
import subprocess
import time
import zipfile
from pathlib import Path

import pytest
import release
import yaml

ROOT = Path(__file__).resolve().parents[2]
REPOSITORY = "example-owner/hushpane"

pytestmark = pytest.mark.timeout(900)


def make_release(clone, umask, zone, locale):
    subprocess.run(["git", "clone", "-q", str(ROOT), str(clone)], check=True)
    env = {key: value for key, value in os.environ.items() if key != "SOURCE_DATE_EPOCH"}
    env.update(TZ=zone, LC_ALL=locale, LANG=locale)
    subprocess.run(["tools/release", "--repository", REPOSITORY], cwd=clone, env=env, check=True,
                   preexec_fn=lambda: os.umask(umask))
    return clone / "dist"


@pytest.fixture(scope="module")
def releases(build):
    work = build / "release-test"
    subprocess.run(["rm", "-rf", str(work)], check=True)
    work.mkdir(parents=True)
    first = make_release(work / "a", 0o022, "UTC", "C")
    time.sleep(2)  # the second run's clock is in another second, and another zip time unit
    second = make_release(work / "a-clone-whose-path-is-longer" / "b", 0o077, "KIR-14", "C.UTF-8")
    return first, second


@pytest.fixture(scope="module")
def dist(releases):
    return releases[1]


@pytest.fixture(scope="module")
def archive(dist):
    return next(dist.glob("hushpane-*-windows-x64.zip"))


@pytest.fixture(scope="module")
def version(archive):
    return re.fullmatch(r"hushpane-(.+)-windows-x64\.zip", archive.name).group(1)


@pytest.fixture(scope="module")
def zip_url(archive, version):
    return f"https://github.com/{REPOSITORY}/releases/download/v{version}/{archive.name}"


def files_of(dist):
    return sorted(path.relative_to(dist).as_posix() for path in dist.rglob("*") if path.is_file())


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def test_the_same_bytes_twice(releases):
    first, second = releases
    assert files_of(first) == files_of(second)
    assert [name for name in files_of(first) if (first / name).read_bytes() != (second / name).read_bytes()] == []


def test_sha256sums_lists_the_zip_and_the_exes(dist):
    subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=dist, check=True)
    listed = sorted(line.split("  ")[1] for line in (dist / "SHA256SUMS").read_text().splitlines())
    assert listed == sorted(path.name for path in [*dist.glob("hushpane*.exe"), *dist.glob("hushpane-*.zip")])


def test_no_build_path_in_the_exes(releases):
    for dist in releases:
        for exe in ("hushpane.exe", "hushpane-check.exe"):
            assert str(dist.parent).encode() not in (dist / exe).read_bytes(), f"{exe} holds its build path"


def test_the_zip(dist, archive):
    zipped = zipfile.ZipFile(archive)
    assert [info.filename for info in zipped.infolist()] == ["hushpane.exe", "README.txt", "LICENSE.txt"]
    assert zipped.read("hushpane.exe") == (dist / "hushpane.exe").read_bytes(), "the zip's exe is not dist's"
    for name in ("README.txt", "LICENSE.txt"):
        text = zipped.read(name)
        assert b"\n" in text and text.count(b"\n") == text.count(b"\r\n"), f"{name}: a line without CRLF"
    guide = zipped.read("README.txt").decode("utf-8")
    assert "Ctrl+0" in guide and "<!--" not in guide, "README.txt is no guide"
    print(", ".join(f"{i.filename} {i.file_size} bytes {i.date_time}" for i in zipped.infolist()))


def test_the_verify_command_is_one_text(dist, archive, version):
    """The command made once (verify_command) is the one the guide gives for
    OWNER/hushpane, the one README.txt and the release's notes give for the
    repository, and, for every published file, the one the publish job runs."""
    guide = (ROOT / "README.md").read_text(encoding="utf-8")
    assert release.verify_command("OWNER/hushpane", version, archive.name) in guide
    assert release.COMMIT_FILTER in guide
    readme = zipfile.ZipFile(archive).read("README.txt").decode("utf-8")
    assert "OWNER" not in readme
    assert release.verify_command(REPOSITORY, version, archive.name) in readme
    notes = (dist / "release-notes.md").read_text(encoding="utf-8")
    assert release.verify_command(REPOSITORY, version, archive.name) in notes
    published = (dist / "published.txt").read_text(encoding="ascii").splitlines()
    assert (dist / "verify-commands.txt").read_text(encoding="ascii").splitlines() == [
        release.verify_command(REPOSITORY, version, name) for name in published]
    workflow = yaml.safe_load((ROOT / ".github" / "workflows" / "release.yml").read_text(encoding="utf-8"))
    runs = [step.get("run", "") for step in workflow["jobs"]["publish"]["steps"]]
    verifies = next(i for i, run in enumerate(runs) if "< verify-commands.txt" in run)
    publishes = next(i for i, run in enumerate(runs) if "--draft=false" in run)
    assert verifies < publishes and 'bash -c "$command"' in runs[verifies], "the publish job does not run them first"


def test_the_notes_name_the_commit_and_every_file(dist):
    notes = (dist / "release-notes.md").read_text(encoding="utf-8")
    commit = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "HEAD"], capture_output=True, text=True,
                            check=True).stdout.strip()
    assert f"commit `{commit}`" in notes and notes.count(commit) == 2
    for name in (dist / "published.txt").read_text(encoding="ascii").splitlines():
        assert f"| `{name}` | `{sha256(dist / name)}` |" in notes, name


def test_published_lists_what_the_release_made(dist):
    """Every file made, but the list itself and the release's own notes and commands."""
    listed = (dist / "published.txt").read_text(encoding="ascii").splitlines()
    unlisted = {"published.txt", "release-notes.md", "verify-commands.txt"}
    assert sorted(listed) == [name for name in files_of(dist) if name not in unlisted]


def test_scoop_manifest_binds_to_the_zip(dist, archive, version, zip_url):
    raw = (dist / "hushpane.json").read_bytes()
    assert not raw.startswith(b"\xef\xbb\xbf"), "a byte-order mark"
    assert b'\n    "version"' in raw, "not indented by 4 spaces"
    scoop = json.loads(raw)
    zipped = zipfile.ZipFile(archive).namelist()
    assert scoop["version"] == version
    release = scoop["architecture"]["64bit"]
    assert release["url"] == zip_url
    assert release["hash"].lower() == sha256(archive)
    assert scoop["bin"] in zipped
    assert all(shortcut[0] in zipped for shortcut in scoop["shortcuts"])
    assert (scoop["homepage"], scoop["checkver"]) == (f"https://github.com/{REPOSITORY}", "github")
    assert scoop["autoupdate"]["architecture"]["64bit"]["url"].replace("$version", version) == zip_url
    base = zip_url.rsplit("/", 1)[0]
    assert scoop["autoupdate"]["hash"]["url"].replace("$baseurl", base) == f"{base}/SHA256SUMS"
    assert f"{sha256(archive)}  {archive.name}" in (dist / "SHA256SUMS").read_text().splitlines(), \
        "SHA256SUMS has no line for the zip, where Scoop's autoupdate looks for its hash"


def test_winget_manifests_bind_to_the_zip(dist, archive, version, zip_url):
    """winget reads every YAML scalar as a string, apart from a fixed list of
    integer and boolean fields, none of which these files use: so they are
    read with PyYAML's BaseLoader, which makes every scalar a string (its
    SafeLoader would turn ReleaseDate into a date)."""
    kinds = {}
    for path in sorted((dist / "winget").iterdir()):
        text = path.read_text(encoding="utf-8")
        fields = yaml.load(text, Loader=yaml.BaseLoader)
        kinds[fields["ManifestType"]] = (path.name, fields)
        assert text.splitlines()[0] == ("# yaml-language-server: $schema=https://aka.ms/winget-manifest."
                                        f"{fields['ManifestType']}.{fields['ManifestVersion']}.schema.json")
    assert sorted(kinds) == ["defaultLocale", "installer", "version"]
    agreed = {(f["PackageIdentifier"], f["PackageVersion"], f["ManifestVersion"]) for _, f in kinds.values()}
    assert len(agreed) == 1, "the files disagree on identifier, version or manifest version"
    identifier, package_version, _ = agreed.pop()
    assert (identifier, package_version) == (REPOSITORY.split("/")[0] + ".Hushpane", version)
    locale = kinds["defaultLocale"][1]
    assert {kind: name for kind, (name, _) in kinds.items()} == {
        "version": f"{identifier}.yaml", "installer": f"{identifier}.installer.yaml",
        "defaultLocale": f"{identifier}.locale.{locale['PackageLocale']}.yaml"}
    assert kinds["version"][1]["DefaultLocale"] == locale["PackageLocale"]
    for field in ("Publisher", "PackageName", "License", "ShortDescription", "PublisherUrl", "PackageUrl",
                  "LicenseUrl", "Moniker", "ReleaseNotesUrl"):
        assert locale.get(field), f"the default-locale file has no {field}"
    installer = kinds["installer"][1]
    assert (installer["InstallerType"], installer["NestedInstallerType"]) == ("zip", "portable")
    [nested] = installer["NestedInstallerFiles"]
    assert nested["RelativeFilePath"] in zipfile.ZipFile(archive).namelist() and nested["PortableCommandAlias"]
    assert re.fullmatch(r"\d{4}-\d\d-\d\d", installer["ReleaseDate"])
    [x64] = installer["Installers"]
    assert (x64["Architecture"], x64["InstallerUrl"]) == ("x64", zip_url)
    assert x64["InstallerSha256"].lower() == sha256(archive)
