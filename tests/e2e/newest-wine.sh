#!/usr/bin/env bash
# The end-to-end case that runs hushpane-check.exe, under a second, newer
# Wine: Debian 13's Wine 10, in the Debian 13 chroot (tools/lib/debian13.sh),
# with a shell desktop of its own started and stopped around it, as the
# suite's fixture does under this machine's Wine. Its logs and the check's
# report are copied to LOGS.
#   newest-wine.sh HUSHPANE_EXE CHECK_EXE PROBE_EXE LOGS
set -euo pipefail
exe=$(realpath "$1") check=$(realpath "$2") probe=$(realpath "$3") logs=$4
cd "$(dirname "$0")/../.."
. tools/lib/debian13.sh

debian13_ensure
debian13_copy_in e2e/bin "$exe" "$check" "$probe"
debian13_copy_in e2e/tests/e2e tests/e2e/e2e.py
debian13_copy_in e2e/tools/lib tools/lib/wine_desktop.py
# The prefix lives in the chroot, outside the copies, and is kept: wineboot runs once per chroot.
status=0
debian13_run "
    cd /e2e
    rm -rf logs
    wine --version
    e2e='python3 tests/e2e/e2e.py'
    \$e2e start state.json --exe bin/$(basename "$exe") --check bin/$(basename "$check") \
        --probe bin/$(basename "$probe") --prefix /var/cache/wine10-prefix --logs logs
    status=0
    \$e2e case state.json hushpane_check || status=\$?
    \$e2e stop state.json
    exit \$status" || status=$?
rm -rf "$logs"
mkdir -p "$logs"
$DEBIAN13_SUDO tar -C "$DEBIAN13_ROOT/e2e/logs" -c . | tar -C "$logs" -x || true
exit $status
