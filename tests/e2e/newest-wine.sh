#!/usr/bin/env bash
# The end-to-end case that runs hushpane-check.exe, under a second, newer
# Wine: Debian 13's Wine 10, in the Debian 13 chroot (tools/lib/debian13.sh),
# run by pytest there with a shell desktop, prefix and X server of its own.
# The exes keep BUILD's layout; the case's logs are copied back to
# BUILD/e2e-wine10/logs. The prefix is kept: wineboot runs once per chroot.
#   newest-wine.sh BUILD
set -euo pipefail
build=$(realpath "$1")
cd "$(dirname "$0")/../.."
. tools/lib/debian13.sh

debian13_ensure
root=$DEBIAN13_ROOT
sudo=$DEBIAN13_SUDO
$sudo rm -rf "$root/e2e/src" "$root/e2e/build/e2e/logs"
$sudo mkdir -p "$root/e2e/src" "$root/e2e/build"
tar -c pyproject.toml tests/conftest.py tests/e2e/conftest.py tests/e2e/test_check.py tools/lib/wine_desktop.py |
    $sudo tar -C "$root/e2e/src" -x
(cd "$build" && tar -c hushpane.exe hushpane-check.exe tests/e2e/hpprobe.exe tests/e2e/hpmenuclick.exe tests/e2e/hpcanary.exe \
    tests/fuzz/hphostile.exe) | $sudo tar -C "$root/e2e/build" -x
status=0
debian13_run "
    wine --version
    cd /e2e/src
    exec python3 -m pytest -c pyproject.toml -p no:cacheprovider -v -rfE --build /e2e/build \
        tests/e2e/test_check.py::test_hushpane_check" || status=$?
rm -rf "$build/e2e-wine10/logs"
mkdir -p "$build/e2e-wine10/logs"
$sudo tar -C "$root/e2e/build/e2e/logs" -c . | tar -C "$build/e2e-wine10/logs" -x || true
exit $status
