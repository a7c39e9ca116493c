#!/bin/sh
# Draws the program's icon (a blue folder mirrored into a yellow one, with
# an arrow between them at 32x32) in 32x32 and 16x16 and writes src/shell/kaz.ico.
# Needs ImageMagick; the result is committed.
set -eu
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/32.mvg" <<'MVG'
stroke-antialias 0
stroke #202020
stroke-width 1
fill #2f5fbf
rectangle 1,3 8,5
rectangle 1,5 18,18
fill #f0c030
rectangle 13,15 20,17
rectangle 13,17 30,30
fill #ffffff
polygon 4,20 4,26 10,26 10,29 16,23 10,17 10,20
MVG

cat > "$work/16.mvg" <<'MVG'
stroke-antialias 0
stroke #202020
stroke-width 1
fill #2f5fbf
rectangle 0,1 4,2
rectangle 0,2 9,9
fill #f0c030
rectangle 6,6 10,7
rectangle 6,7 15,15
MVG

for size in 32 16; do
    convert -size ${size}x${size} xc:none +antialias -draw "$(cat "$work/$size.mvg")" "PNG32:$work/$size.png"
done
convert "$work/32.png" "$work/16.png" src/shell/kaz.ico
echo "wrote src/shell/kaz.ico"
