# shellcheck shell=bash
# A Debian 13 chroot, made once with debootstrap from this machine's own
# Debian mirror and kept outside the clone, for what Debian 12 does not have:
# the newest MinGW-w64 of a Debian stable release (GCC 14, mingw-w64 12) and
# a second, newer Wine (10), with what the end-to-end suite runs on; and, only
# where this machine's own is older, a Node.js (20) new enough for GitHub's
# workflow parser. This machine's compilers, Wine and apt sources stay as they
# are. Sourced by tools/lib/newest-mingw, tools/lib/check-workflows and
# tests/e2e/newest-wine.sh.

DEBIAN13_ROOT=/var/cache/hushpane/debian-13
DEBIAN13_PACKAGES=cmake,make,g++-mingw-w64-x86-64-win32,binutils-mingw-w64-x86-64,mingw-w64-x86-64-dev,wine,wine64,xvfb,python3,python3-pytest,python3-pytest-timeout,python3-psutil,python3-pil,python3-xlib,procps
DEBIAN13_LOG=build/debian13.log
DEBIAN13_SUDO=""
[ "$(id -u)" -eq 0 ] || DEBIAN13_SUDO="sudo"

# Node.js 20 or later on this machine, which the workflow parser needs.
node_is_new_enough() {
    [ "$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)" -ge 20 ]
}
node_is_new_enough || DEBIAN13_PACKAGES+=",nodejs"

# The mirror that apt uses for this machine's own release: the sources name
# the release (Release), or a suite that the downloaded lists resolve (Codename).
debian13_mirror() {
    local codename field uri
    # shellcheck source=/dev/null
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    for field in Release Codename; do
        # shellcheck disable=SC2016 # apt's own placeholder, not the shell's
        uri=$(apt-get indextargets --format '$(REPO_URI)' "$field: $codename" | head -n 1)
        if [ -n "$uri" ]; then
            echo "$uri"
            return 0
        fi
    done
    echo "apt's configuration names no mirror for Debian $codename" >&2
    return 1
}

# Makes the chroot unless it is there with these packages (and maybe more).
# Made aside and moved into place only when whole, so that an interrupted
# run leaves nothing that looks ready.
debian13_ensure() {
    local root=$DEBIAN13_ROOT sudo=$DEBIAN13_SUDO source package made missing=""
    made=",$($sudo cat "$root/.packages" 2>/dev/null || true),"
    for package in ${DEBIAN13_PACKAGES//,/ }; do
        [[ $made == *",$package,"* ]] || missing+=" $package"
    done
    if [ -z "$missing" ]; then
        return 0
    fi
    mkdir -p "$(dirname "$DEBIAN13_LOG")"
    source=$(debian13_mirror)
    echo "Making a Debian 13 chroot with MinGW-w64 and Wine in $root from $source (once, a few minutes; log in $DEBIAN13_LOG)"
    # The earlier chroot of this name held MinGW-w64 alone.
    $sudo rm -rf "$root" "$root.new" "$(dirname "$root")/debian-13-mingw"
    $sudo mkdir -p "$(dirname "$root")"
    if ! $sudo debootstrap --variant=minbase --include="$DEBIAN13_PACKAGES" trixie "$root.new" "$source" \
        >"$DEBIAN13_LOG" 2>&1; then
        tail -n 20 "$DEBIAN13_LOG"
        echo "debootstrap failed; the whole log is $DEBIAN13_LOG"
        return 1
    fi
    $sudo chroot "$root.new" apt-get clean
    echo "$DEBIAN13_PACKAGES" | $sudo tee "$root.new/.packages" >/dev/null
    $sudo mv "$root.new" "$root"
}

# Runs a shell command in the chroot, in mount and network namespaces of its
# own: /proc, /dev and a fresh /tmp are mounted for it and vanish with it,
# and an X server started there cannot meet this machine's own displays.
debian13_run() {  # command
    # shellcheck disable=SC2016 # expanded by the shell inside the namespaces
    $DEBIAN13_SUDO unshare --mount --net --fork /bin/sh -ec '
        root=$1
        shift
        mount --make-rprivate /
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs tmpfs "$root/tmp"
        exec chroot "$root" /bin/sh -ec "$1"' debian13 "$DEBIAN13_ROOT" "$1"
}

# Copies files into the chroot (a folder that is made afresh), keeping their times.
debian13_copy_in() {  # folder-in-chroot file...
    local folder=$DEBIAN13_ROOT/$1
    shift
    $DEBIAN13_SUDO rm -rf "$folder"
    $DEBIAN13_SUDO mkdir -p "$folder"
    $DEBIAN13_SUDO cp -a "$@" "$folder/"
}
