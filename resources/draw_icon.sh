#!/bin/sh
# Draws the module icon: a screen with a grid of desktop icons. Deterministic for one ImageMagick.
set -e
out="$1"
# /usr/local/bin may hold a stand-in "convert"; prefer the real ImageMagick.
CONVERT=/usr/bin/convert
[ -x "$CONVERT" ] || CONVERT=convert
tmp="${out%.ico}.png"
"$CONVERT" -size 48x48 xc:none \
    -fill '#24477a' -draw 'roundrectangle 1,4 46,39 5,5' \
    -fill '#3d7fd1' -draw 'rectangle 4,7 43,35' \
    -fill '#f4f7fb' -draw 'rectangle 8,11 15,18' -draw 'rectangle 8,23 15,30' \
    -fill '#ffd34d' -draw 'rectangle 20,11 27,18' \
    -fill '#f4f7fb' -draw 'rectangle 32,23 39,30' \
    -fill '#24477a' -draw 'rectangle 20,39 27,43' -draw 'roundrectangle 12,42 35,46 2,2' \
    -define png:exclude-chunks=date,time +set date:create +set date:modify "$tmp"
"$CONVERT" "$tmp" -define icon:auto-resize=48,32,24,20,16 "$out"
rm -f "$tmp"
