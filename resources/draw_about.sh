#!/bin/sh
# Draws the About picture (a GIF of 480 x 343) and the link cursor (a 32 x 32 monochrome pointing hand,
# hot spot at the fingertip 6, 0). Deterministic for one ImageMagick and one DejaVu font.
# Usage: draw_about.sh PICTURE.gif CURSOR.cur
set -e
gif="$1"
cur="$2"
CONVERT=/usr/bin/convert
[ -x "$CONVERT" ] || CONVERT=convert
# No pure white anywhere: the version line is drawn over the picture in white.
"$CONVERT" -size 480x343 gradient:'#1c3560-#0b1730' \
    -fill '#3d7fd1' -font DejaVu-Sans-Bold -pointsize 30 -annotate +38+62 'Quillmar Orvane Deluxe' \
    -fill '#9fb6d8' -font DejaVu-Sans -pointsize 13 -annotate +40+88 'Your desktop, the way you left it' \
    -fill '#24477a' -draw 'roundrectangle 300,104 446,198 6,6' \
    -fill '#3d7fd1' -draw 'rectangle 306,110 440,186' \
    -fill '#e8eef7' -draw 'rectangle 314,118 328,132' -draw 'rectangle 314,142 328,156' \
    -fill '#ffd34d' -draw 'rectangle 338,118 352,132' \
    -fill '#e8eef7' -draw 'rectangle 362,142 376,156' -draw 'rectangle 314,166 328,180' \
    -fill '#24477a' -draw 'rectangle 364,198 382,206' -draw 'roundrectangle 346,204 400,210 2,2' \
    -fill '#0a1428' -draw 'rectangle 30,208 470,250' \
    -fill '#20314f' -draw 'rectangle 357,295 461,331' \
    -fill '#ffd34d' -draw 'circle 373,313 381,313' \
    -fill '#e8eef7' -font DejaVu-Sans-Bold -pointsize 15 -annotate +388+319 'Quillmar' \
    -fill '#6f86aa' -font DejaVu-Sans -pointsize 10 -annotate +38+326 'Copyright (C) Quillmar' \
    +dither -colors 64 -define gif:optimize=false +set date:create +set date:modify "gif:$gif"

# The hand: X black, o white, . transparent. Row 0 is the top; the fingertip is at column 6.
LC_ALL=C awk 'BEGIN {
  n = split("\
......XX........................ \
.....XooX....................... \
.....XooX....................... \
.....XooX....................... \
.....XooX....................... \
.....XooXXX..................... \
.....XooXooXXX.................. \
.....XooXooXooXX................ \
..XX.XooXooXooXoX............... \
.XooXXooooooooXooX.............. \
.XoooXoooooooooooX.............. \
..XooXoooooooooooX.............. \
...XoXoooooooooooX.............. \
...XooooooooooooX............... \
....XoooooooooooX............... \
....XooooooooooX................ \
.....XoooooooooX................ \
.....XoooooooooX................ \
......XXXXXXXXX................. \
................................ \
................................ \
................................ \
................................ \
................................ \
................................ \
................................ \
................................ \
................................ \
................................ \
................................ \
................................ \
................................", rows, " ")
  # header, directory entry (hot spot 6, 0), BITMAPINFOHEADER (height doubled for the two masks), palette
  b = "0 0 2 0 1 0 32 32 2 0 6 0 0 0 48 1 0 0 22 0 0 0"
  b = b " 40 0 0 0 32 0 0 0 64 0 0 0 1 0 1 0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"
  b = b " 0 0 0 0 255 255 255 0"
  m = split(b, bytes, " ")
  for (i = 1; i <= m; i++) printf "%c", bytes[i] + 0
  for (mask = 0; mask < 2; mask++)
    for (r = 32; r >= 1; r--)            # bottom-up
      for (c = 0; c < 32; c += 8) {
        v = 0
        for (k = 0; k < 8; k++) {
          ch = substr(rows[r], c + k + 1, 1)
          bit = mask == 0 ? (ch == "o") : (ch == ".")
          v = v * 2 + bit
        }
        printf "%c", v
      }
}' > "$cur"
