#!/usr/bin/env bash
# Makes the release twice, from two fresh clones of the checkout's commit in
# folders with paths of different lengths, with a different umask, time zone
# and locale and at different times, both with the package manifests, and
# compares the bytes of every file. Then checks what a user checks:
# SHA256SUMS, the zip's entries and its guide's verify command, no build path
# in the exe, manifests that bind to this release's zip, and the list of the
# files that the release workflow attests and publishes.
#   reproducible.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source=$(cd "$1" && pwd)
work=$2
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
a=$work/a
b=$work/a-clone-whose-path-is-longer/b
repository=example-owner/hushpane

release() {  # clone umask TZ LC_ALL
    git clone -q "$source" "$1"
    echo "== tools/release in $1 (umask $2, TZ=$3, LC_ALL=$4)"
    (umask "$2" && cd "$1" && env -u SOURCE_DATE_EPOCH TZ="$3" LC_ALL="$4" LANG="$4" tools/release --repository $repository)
}
release "$a" 022 UTC C
sleep 2  # the second run's clock is in another second, and another zip time unit
release "$b" 077 KIR-14 C.UTF-8

status=0
files=$(cd "$a/dist" && find . -type f | sort)
if [ "$files" != "$(cd "$b/dist" && find . -type f | sort)" ]; then
    echo "FAIL: the two releases hold different files"
    status=1
fi
for file in $files; do
    if cmp "$a/dist/$file" "$b/dist/$file"; then
        echo "same bytes: ${file#./}"
    else
        echo "FAIL: ${file#./} differs between the two releases"
        status=1
    fi
done
(cd "$b/dist" && sha256sum -c SHA256SUMS) || status=1
if [ "$(cut -d' ' -f3 "$b/dist/SHA256SUMS" | sort | tr '\n' ' ')" != "$(cd "$b/dist" && ls hushpane*.exe hushpane-*.zip | sort | tr '\n' ' ')" ]; then
    echo "FAIL: SHA256SUMS does not list exactly the zip and the exes"
    status=1
fi
"$(command -v /usr/bin/python3 || command -v python3)" "$source/tests/release/manifests.py" "$b/dist" $repository || status=1
for folder in "$a" "$b"; do
    for exe in hushpane.exe hushpane-check.exe; do
        if grep -q -F "$folder" "$folder/dist/$exe"; then
            echo "FAIL: $exe holds its build path $folder"
            status=1
        fi
    done
done
python3 - "$b/dist" <<'PY' || status=1
import sys, zipfile
from pathlib import Path
dist = Path(sys.argv[1])
zipped = zipfile.ZipFile(next(dist.glob("hushpane-*-windows-x64.zip")))
names = [info.filename for info in zipped.infolist()]
assert names == ["hushpane.exe", "README.txt", "LICENSE.txt"], names
assert zipped.read("hushpane.exe") == (dist / "hushpane.exe").read_bytes(), "the zip's exe is not dist's"
for name in ("README.txt", "LICENSE.txt"):
    text = zipped.read(name)
    assert b"\n" in text and text.count(b"\n") == text.count(b"\r\n"), f"{name}: not every line ends with CRLF"
assert b"Ctrl+0" in zipped.read("README.txt") and b"<!--" not in zipped.read("README.txt"), "README.txt is no guide"
guide = zipped.read("README.txt").decode("utf-8")
version = zipped.filename.rsplit("hushpane-", 1)[1].split("-windows")[0]
assert "OWNER" not in guide, "README.txt still says OWNER"
verify = ("--repo example-owner/hushpane --signer-workflow example-owner/hushpane/.github/workflows/release.yml "
          f"--source-ref refs/tags/v{version} --deny-self-hosted-runners")
assert verify in guide, "README.txt's gh attestation verify does not pin the repository, its workflow and the tag"
listed = (dist / "published.txt").read_text(encoding="ascii").splitlines()
made = sorted(p.relative_to(dist).as_posix() for p in dist.rglob("*") if p.is_file() and p.name != "published.txt")
assert sorted(listed) == made, f"published.txt lists {listed}, not what the release made: {made}"
print("zip: " + ", ".join(f"{i.filename} {i.file_size} bytes {i.date_time}" for i in zipped.infolist()))
PY
exit $status
