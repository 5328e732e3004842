#!/usr/bin/env bash
# Draws hushpane.ico from scratch: a desktop screen whose taskbar is only a
# dashed outline, the taskbar "gone quiet". Every size is drawn on a grid of
# sixteen units, so that each edge falls on a unit boundary: the 32-pixel
# image, which Windows gives a program that declares no DPI awareness and the
# notification area then shrinks to 16 px, halves into the 16-pixel image
# without a blurred or lost stroke. Installs ImageMagick and icoutils, which
# only this script uses, from Debian's packages where they are missing.
set -euo pipefail
for package in imagemagick icoutils; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        $sudo apt-get install -y -qq "$package" >/dev/null
    fi
done
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# No time stamps in the PNGs: the same script always writes the same file.
stable=(-define "png:exclude-chunks=date,time")

box() {  # x0 y0 x1 y1: the pixels [x0,x1) x [y0,y1), in ImageMagick's inclusive form
    echo "rectangle $1,$2 $(($3 - 1)),$(($4 - 1))"
}

draw() {  # size output
    local s=$1 out=$2
    local u=$((s / 16))                         # one grid unit
    local w=$((s <= 32 ? u : s / 32))           # ring and outline width: 1 px at 16, 2 px at 32
    local r=$((2 * u))                          # corner radius
    local lo=$u hi=$((15 * u))                  # the screen: units 1 to 15
    local bx0=$((2 * u)) bx1=$((14 * u))        # the taskbar's outline: units 2 to 14 across,
    local by0=$((9 * u)) by1=$((13 * u))        # 9 to 13 down
    local dashes=(
        "$(box $bx0 $by0 $((bx0 + w)) $by1)" "$(box $((bx1 - w)) $by0 $bx1 $by1)"
    )
    local d
    for d in 2 7 12; do                         # dashes of two units along each long edge
        dashes+=("$(box $((d * u)) $by0 $(((d + 2) * u)) $((by0 + w)))")
        dashes+=("$(box $((d * u)) $((by1 - w)) $(((d + 2) * u)) $by1)")
    done
    local args=(-fill '#1f4e79' -draw "roundrectangle $lo,$lo $((hi - 1)),$((hi - 1)) $r,$r"
        -fill '#3a7cc0' -draw "roundrectangle $((lo + w)),$((lo + w)) $((hi - w - 1)),$((hi - w - 1)) $((r - w)),$((r - w))"
        -fill '#e8f1fb')
    for d in "${dashes[@]}"; do
        args+=(-draw "$d")
    done
    convert -size "${s}x${s}" xc:none -stroke none "${args[@]}" "${stable[@]}" -depth 8 "PNG32:$out"
}

for s in 16 32 48 64 256; do
    draw "$s" "$work/$s.png"
done
for s in 16 32 48; do
    convert "$work/$s.png" -colors 255 "${stable[@]}" "PNG8:$work/$s-8.png"
done

icotool -c -o "$here/hushpane.ico" \
    -b 8 "$work/16-8.png" -b 8 "$work/32-8.png" -b 8 "$work/48-8.png" \
    -b 32 "$work/16.png" -b 32 "$work/32.png" -b 32 "$work/48.png" -b 32 "$work/64.png" \
    -r "$work/256.png" -r "$work/256.png"
icotool -l "$here/hushpane.ico"
