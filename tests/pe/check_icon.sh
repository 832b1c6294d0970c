#!/usr/bin/env bash
# Checks the committed icon: the generator, run again, writes the same bytes;
# the file lists its four images in order; and each image renders to a PNG,
# also enlarged eight times, under OUT_DIR for a look by eye.
# Usage: check_icon.sh GENERATOR COMMITTED_ICO OUT_DIR
set -euo pipefail
generator=$1 committed=$2 out=$3

rm -rf "$out"
mkdir -p "$out"
python3 "$generator" "$out/ostravel.ico"
if ! cmp "$out/ostravel.ico" "$committed"; then
  echo "$generator no longer writes $committed: run it and commit the icon"
  exit 1
fi

expected='--icon --index=1 --width=16 --height=16 --bit-depth=4 --palette-size=16
--icon --index=2 --width=16 --height=16 --bit-depth=8 --palette-size=256
--icon --index=3 --width=32 --height=32 --bit-depth=4 --palette-size=16
--icon --index=4 --width=32 --height=32 --bit-depth=8 --palette-size=256'
listed=$(icotool -l "$committed")
if [ "$listed" != "$expected" ]; then
  printf 'icon images:\n%s\nwant:\n%s\n' "$listed" "$expected"
  exit 1
fi

icotool -x -o "$out" "$committed"
for png in "$out"/ostravel_*.png; do
  convert "$png" -scale 800% "${png%.png}_x8.png"
done
renders=$(cd "$out" && for f in ostravel_*_x8.png; do identify -format '%f %wx%h\n' "$f"; done)
want_renders='ostravel_1_16x16x4_x8.png 128x128
ostravel_2_16x16x8_x8.png 128x128
ostravel_3_32x32x4_x8.png 256x256
ostravel_4_32x32x8_x8.png 256x256'
if [ "$renders" != "$want_renders" ]; then
  printf 'renders:\n%s\nwant:\n%s\n' "$renders" "$want_renders"
  exit 1
fi
echo "icon reproduced; renders in $out"
