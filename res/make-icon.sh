#!/usr/bin/env bash
# Draws hushpane.ico from scratch: a desktop screen whose taskbar is only a
# dashed outline, the taskbar "gone quiet". Each size is drawn on its own
# pixel grid so that 16 px stays crisp. Needs ImageMagick and icoutils.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

draw() {  # size output
    local s=$1 out=$2
    local m=$((s / 16)) ; [ "$m" -lt 1 ] && m=1            # outer margin
    local r=$((s / 8))                                      # corner radius
    local bar=$((s / 4)) ; [ "$bar" -lt 4 ] && bar=4        # taskbar height
    local inset=$((m + (s >= 32 ? s / 16 : 1)))             # taskbar inset from the screen's edge
    local dash=$((s >= 32 ? s / 16 : 2))
    local line=$((s >= 48 ? s / 32 : 1))
    local top=$((s - m - inset - bar)) bottom=$((s - m - inset - 1))
    convert -size "${s}x${s}" xc:none \
        -fill '#1f4e79' -stroke none \
        -draw "roundrectangle $m,$m $((s - m - 1)),$((s - m - 1)) $r,$r" \
        -fill '#3a7cc0' \
        -draw "roundrectangle $((m + line)),$((m + line)) $((s - m - 1 - line)),$((s - m - 1 - line)) $r,$r" \
        -fill none -stroke '#e8f1fb' -strokewidth "$line" \
        -draw "stroke-dasharray $dash $dash rectangle $inset,$top $((s - inset - 1)),$bottom" \
        -depth 8 "PNG32:$out"
}

for s in 16 32 48 64 256; do
    draw "$s" "$work/$s.png"
done
for s in 16 32 48; do
    convert "$work/$s.png" -colors 255 "PNG8:$work/$s-8.png"
done

icotool -c -o "$here/hushpane.ico" \
    -b 8 "$work/16-8.png" -b 8 "$work/32-8.png" -b 8 "$work/48-8.png" \
    -b 32 "$work/16.png" -b 32 "$work/32.png" -b 32 "$work/48.png" -b 32 "$work/64.png" \
    -r "$work/256.png" -r "$work/256.png"
icotool -l "$here/hushpane.ico"
