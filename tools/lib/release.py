#!/usr/bin/env python3
"""Packs a built hushpane.exe into the release a Windows user downloads:

  dist/hushpane-VERSION-windows-x64.zip   hushpane.exe, README.txt, LICENSE.txt
  dist/hushpane.exe                       the same exe, for checking on its own
  dist/hushpane-check.exe                 the check that a user runs on their own desktop
  dist/SHA256SUMS                         for the zip and both exes, as sha256sum -c reads it
  dist/hushpane.json, dist/winget/        Scoop's and winget's manifests of the zip, for a
                                          release published on GitHub as OWNER/NAME
  dist/published.txt                      the files above that are published, a path (in
                                          dist/) a line: what the release workflow attests
                                          and attaches
  dist/release-notes.md                   the release page's text: the commit, each file's
                                          SHA-256 and the command that checks its attestation
  dist/verify-commands.txt                that command for each published file, a line
                                          each, which the release workflow runs before it
                                          publishes

  release.py EXE CHECK_EXE VERSION_FILE SOURCE_DIR OUT_DIR [--repository OWNER/NAME]

Without --repository the origin remote names the repository, if it is on
GitHub; with neither, no manifests are written.

Byte for byte the same from the same commit: the entries come in a fixed
order, with fixed attributes and with the commit's time (in UTC) as their
time; nothing is read from the clock, the time zone, the locale or the umask.
README.txt is the user guide cut from README.md, so the guide is written once;
with a repository, its OWNER/hushpane is that repository, and the note that
says what OWNER stands for goes.
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

import packages

GUIDE_START = "<!-- user guide -->"
GUIDE_END = "<!-- end of user guide -->"
PLACEHOLDER_NOTE = re.compile(r"<!-- placeholders -->\n(.*?)<!-- end of placeholders -->\n", re.S)
ZIP_EPOCH_MIN = 315532800  # 1980-01-01, the earliest time a zip entry can carry


class ReleaseError(RuntimeError):
    pass


def source_time(source):
    """The time of the commit the release is made from, or SOURCE_DATE_EPOCH
    for a source tree that is not a git checkout."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", str(source), "log", "-1", "--format=%ct"], capture_output=True, text=True,
                             check=True, env=dict(os.environ, TZ="UTC", LC_ALL="C")).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        raise ReleaseError(f"{source} is not a git checkout with a commit: set SOURCE_DATE_EPOCH to the "
                           "source's time (seconds since 1970) instead") from None


def warn_if_changed(source):
    """A release stands for a commit: changes not yet committed would make
    bytes that nobody can rebuild from it."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return
    changed = subprocess.run(["git", "-C", str(source), "status", "--porcelain", "--untracked-files=no"],
                             capture_output=True, text=True).stdout.rstrip()
    if changed:
        print("tools/release: note: the checkout has uncommitted changes, so this release is not its commit's:\n"
              + changed, file=sys.stderr)


def plain_text(markdown):
    """The guide as a text file for Notepad: headings underlined, no emphasis
    marks or pictures, Windows line ends."""
    lines = []
    for line in markdown.splitlines():
        if line.lstrip().startswith("![") or (not line.strip() and lines and not lines[-1]):
            continue
        line = line.replace("**", "").replace("`", "")
        line = re.sub(r"\[([^\]]+)\]\(([^)]+)\)", r"\1 (\2)", line).rstrip()
        heading = re.fullmatch(r"#+ (.*)", line)
        if heading:
            lines += [heading.group(1), "-" * len(heading.group(1))]
        else:
            lines.append(line)
    return "\r\n".join(lines).strip("\r\n") + "\r\n"


def user_guide(readme, version, repository):
    text = readme.read_text(encoding="utf-8")
    if text.count(GUIDE_START) != 1 or text.count(GUIDE_END) != 1:
        raise ReleaseError(f"{readme} must mark the user guide once with {GUIDE_START} and {GUIDE_END}")
    guide = text.split(GUIDE_START, 1)[1].split(GUIDE_END, 1)[0].strip()
    named = set(re.findall(r"hushpane-(\d+\.\d+\.\d+)-windows-x64\.zip|refs/tags/v(\d+\.\d+\.\d+)", guide))
    named = {version for pair in named for version in pair if version}
    if named - {version}:
        raise ReleaseError(f"the user guide in {readme} names version {', '.join(sorted(named))}, but this is "
                           f"{version}: update its examples")
    expected = verify_command("OWNER/hushpane", version, packages.zip_name(version))
    if expected not in guide or COMMIT_FILTER not in guide:
        raise ReleaseError(f"the user guide in {readme} does not give the verify command as tools/lib/release.py "
                           f"makes it: {expected}, and {COMMIT_FILTER}")
    if repository is None:
        guide = PLACEHOLDER_NOTE.sub(r"\1", guide)
    else:
        owner = repository.split("/")[0]
        guide = PLACEHOLDER_NOTE.sub("", guide).replace("OWNER/hushpane", repository)
        guide = guide.replace("OWNER.Hushpane", f"{owner}.Hushpane")
    return plain_text(f"Hushpane {version}\n\n" + guide)


def verify_command(repository, version, name):
    """The one command that checks a download against its attestation: the
    guide gives it (for OWNER/hushpane), README.txt and the release's notes
    give it filled in, and the release workflow runs it on every file before
    it publishes. --cert-identity pins the signing workflow and the tag
    exactly; every flag is in gh from 2.49.0 on."""
    return (f"gh attestation verify {name} --repo {repository} --cert-identity "
            f"https://github.com/{repository}/.github/workflows/release.yml@refs/tags/v{version} "
            "--deny-self-hosted-runners")


# Added to the command, this prints the commit that the certificate names; in double quotes,
# as PowerShell and Command Prompt both pass it on whole.
COMMIT_FILTER = '--format json --jq ".[].verificationResult.signature.certificate.sourceRepositoryDigest"'


def source_commit(source):
    """The commit the release is made from, or None for a tree that is not a git checkout."""
    result = subprocess.run(["git", "-C", str(source), "rev-parse", "HEAD"], capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else None


def release_notes(repository, version, commit, digests):
    """The release page's text: what a user compares a download with."""
    rows = "".join(f"| `{name}` | `{digest}` |\n" for name, digest in digests.items())
    return (f"Hushpane {version}, built by this repository's release workflow from the tag v{version}, "
            f"commit `{commit}`.\n\n"
            "Before you open a download, compare its SHA-256 (`Get-FileHash` in PowerShell, "
            "`certutil -hashfile FILE SHA256` in a Command Prompt) with this list:\n\n"
            f"| file | SHA-256 |\n|---|---|\n{rows}\n"
            "With GitHub's CLI, gh 2.49 or later, check it against the attestation that the release workflow "
            "made for it, in PowerShell or a Command Prompt alike (for another file, put its name in place of "
            "the zip's):\n\n"
            f"    {verify_command(repository, version, packages.zip_name(version))}\n\n"
            f"With `{COMMIT_FILTER}` added, it prints the commit that the attestation's certificate names: it "
            f"must be `{commit}`, the one above.\n\n"
            "`hushpane-check.exe` checks Hushpane on your own desktop; `hushpane.json` installs it with Scoop, "
            "the three `.yaml` files with winget (see the README).\n")


def entry(name, when):
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(when, ZIP_EPOCH_MIN))[:6])
    info.create_system = 0  # MS-DOS attributes, as Windows' own zip folders write them
    info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE, nothing read-only or hidden
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for name in ("exe", "check_exe", "version_file", "source", "out"):
        parser.add_argument(name, type=Path)
    parser.add_argument("--repository", help="OWNER/NAME of the GitHub repository whose release page holds the zip")
    args = parser.parse_args()
    exe, check_exe, version_file, source, out = args.exe, args.check_exe, args.version_file, args.source, args.out
    repository = args.repository or packages.origin_repository(source)
    if repository is not None and not packages.REPOSITORY.fullmatch(repository):
        raise ReleaseError(f"--repository {repository}: give the GitHub repository as OWNER/NAME")
    version = version_file.read_text(encoding="ascii").strip()
    if not re.fullmatch(r"\d+\.\d+\.\d+", version):
        raise ReleaseError(f"unexpected version {version!r} in {version_file}")
    when = source_time(source)
    warn_if_changed(source)
    exe_bytes = exe.read_bytes()
    contents = [
        ("hushpane.exe", exe_bytes),
        ("README.txt", user_guide(source / "README.md", version, repository).encode("utf-8")),
        ("LICENSE.txt", (source / "LICENSE").read_text(encoding="utf-8").replace("\n", "\r\n").encode("utf-8")),
    ]

    out.mkdir(parents=True, exist_ok=True)
    for old in out.iterdir():  # an earlier release's files, which would not be this release's
        if old.is_dir() and old.name == "winget":
            shutil.rmtree(old)
        elif old.is_file() and (old.name in ("hushpane.exe", "hushpane.json", "SHA256SUMS", "published.txt",
                                             "release-notes.md", "verify-commands.txt")
                                or old.name.startswith("hushpane-")):
            old.unlink()
    archive = out / packages.zip_name(version)
    with zipfile.ZipFile(archive, "w") as zipped:
        for name, data in contents:
            zipped.writestr(entry(name, when), data, compresslevel=9)
    (out / "hushpane.exe").write_bytes(exe_bytes)
    (out / "hushpane-check.exe").write_bytes(check_exe.read_bytes())
    names = (archive.name, "hushpane.exe", "hushpane-check.exe")
    digests = {name: sha256(out / name) for name in names}
    sums = "".join(f"{digest}  {name}\n" for name, digest in digests.items())
    (out / "SHA256SUMS").write_text(sums, encoding="ascii", newline="\n")

    manifests = [] if repository is None else packages.write(out, repository, version, digests[archive.name], when)
    published = [out / name for name in names] + [out / "SHA256SUMS"] + manifests
    listed = [path.relative_to(out).as_posix() for path in published]
    (out / "published.txt").write_text("".join(f"{name}\n" for name in listed), encoding="ascii", newline="\n")
    if repository is not None:
        commit = source_commit(source) or "(not a git checkout)"
        notes = release_notes(repository, version, commit, {name: sha256(out / name) for name in listed})
        (out / "release-notes.md").write_text(notes, encoding="utf-8", newline="\n")
        commands = "".join(f"{verify_command(repository, version, name)}\n" for name in listed)
        (out / "verify-commands.txt").write_text(commands, encoding="ascii", newline="\n")

    print(f"Hushpane {version}, from the source of {time.strftime('%Y-%m-%d %H:%M:%S UTC', time.gmtime(when))}:")
    for path in published:
        print(f"  {path}  ({path.stat().st_size} bytes)")
    print(f"  (the list of them: {out / 'published.txt'})")
    print(sums, end="")
    if repository is None:
        print("No Scoop or winget manifests written: they need the GitHub repository whose release page will hold "
              "the zip; give it as tools/release --repository OWNER/NAME, or make it the origin remote.")
    else:
        print(f"Scoop and winget manifests for the zip at {packages.zip_url(repository, version)}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except ReleaseError as error:
        print(f"tools/release: {error}", file=sys.stderr)
        sys.exit(1)
