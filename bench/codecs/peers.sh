#!/usr/bin/env bash
# Times every format writer on an A4 page at 300 dpi (2481 x 3507) beside
# ImageMagick and libvips doing the same conversion, in one run on one machine.
#
#   bench/codecs/peers.sh [build-dir] [repeats]
#
# Every conversion is a whole process, BMP (or netpbm for vips, which has no
# BMP reader of its own) in, file out; each figure is the best of `repeats`
# runs. "ratio" is ours divided by the fastest peer that can write the same
# kind of file; "writer" is our encoder alone, into memory.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
repeats=${2:-3}

find_bin() { find "$build" -name bench_writers -type f -perm -u+x 2>/dev/null | head -n 1; }
bin=$(find_bin)
if [ -z "$bin" ]; then
  cmake --build "$build" --target bench_writers >/dev/null
  bin=$(find_bin)
fi
[ -n "$bin" ] || { echo "bench_writers not found under $build" >&2; exit 1; }

im=/usr/bin/convert
vips=$(command -v vips || true)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin" make "$work"
export OMP_NUM_THREADS=${OMP_NUM_THREADS:-$(nproc)}

# Best wall time in ms of a command line, or "fail".
best_ms() {
  local best="" start end ms i
  for ((i = 0; i < repeats; i++)); do
    start=$(date +%s%N)
    if ! eval "$1" >/dev/null 2>&1; then echo fail; return; fi
    end=$(date +%s%N)
    ms=$(((end - start) / 1000000))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

printf '| %-28s | %8s | %8s | %8s | %8s | %6s |\n' output writer ours magick vips ratio
printf '|%s|%s|%s|%s|%s|%s|\n' ------------------------------ ---------- ---------- ---------- ---------- --------

# row <label> <input> <code> <option> <quality> <extension> <magick command> <vips command>
# (a peer command of "-" means that peer cannot write this kind of file)
row() {
  local label=$1 input=$2 code=$3 option=$4 quality=$5 ext=$6 magick=$7 vipscmd=$8
  local writer ours m v peers ratio
  writer=$("$bin" time "$work/$input.bmp" "$code" "$option" "$quality" "$repeats" | cut -d' ' -f1)
  ours=$(best_ms "'$bin' convert '$work/$input.bmp' '$work/ours.$ext' $code $option $quality")
  m=-
  v=-
  [ "$magick" != - ] && m=$(best_ms "$magick")
  [ "$vipscmd" != - ] && [ -n "$vips" ] && v=$(best_ms "$vipscmd")
  peers=$(printf '%s\n%s\n' "$m" "$v" | grep -E '^[0-9]+$' | sort -n | head -n 1 || true)
  ratio=-
  if [ -n "$peers" ] && [ "$peers" -gt 0 ] && [[ "$ours" =~ ^[0-9]+$ ]]; then
    ratio=$(awk -v a="$ours" -v b="$peers" 'BEGIN { printf "%.2f", a / b }')
  fi
  printf '| %-28s | %8s | %8s | %8s | %8s | %6s |\n' "$label" "$writer" "$ours" "$m" "$v" "$ratio"
}

W=$work
# TIFF: the compression words the engine passes per depth.
row "TIFF 1-bit G4" page1 6 4 75 tif "$im $W/page1.bmp -compress Group4 $W/m.tif" \
  "$vips tiffsave $W/page1.pbm $W/v.tif --compression ccittfax4 --bitdepth 1"
row "TIFF 1-bit G3" page1 6 3 75 tif "$im $W/page1.bmp -compress Fax $W/m.tif" -
row "TIFF 4-bit LZW" page4 6 5 75 tif "$im $W/page4.bmp -compress LZW $W/m.tif" -
row "TIFF 4-bit PackBits" page4 6 32773 75 tif "$im $W/page4.bmp -compress RLE $W/m.tif" -
row "TIFF 8-bit palette LZW" page8 6 5 75 tif \
  "$im $W/page8.bmp -compress LZW -define tiff:predictor=2 $W/m.tif" -
row "TIFF 8-bit gray JPEG" page8g 6 19999 75 tif \
  "$im $W/page8g.bmp -compress JPEG -quality 75 $W/m.tif" \
  "$vips tiffsave $W/page8g.pgm $W/v.tif --compression jpeg --Q 75"
row "TIFF 24-bit JPEG YCbCr" page24 6 19999 75 tif \
  "$im $W/page24.bmp -compress JPEG -quality 75 -sampling-factor 1x1 $W/m.tif" \
  "$vips tiffsave $W/page24.ppm $W/v.tif --compression jpeg --Q 75"
row "TIFF 24-bit LZW" page24 6 5 75 tif \
  "$im $W/page24.bmp -compress LZW -define tiff:predictor=2 $W/m.tif" \
  "$vips tiffsave $W/page24.ppm $W/v.tif --compression lzw --predictor horizontal"
row "TIFF 24-bit PackBits" page24 6 32773 75 tif "$im $W/page24.bmp -compress RLE $W/m.tif" \
  "$vips tiffsave $W/page24.ppm $W/v.tif --compression packbits"
# JPEG: the engine writes progressive files unless told otherwise.
row "JPEG 24-bit progressive" page24 3 16 75 jpg \
  "$im $W/page24.bmp -quality 75 -interlace JPEG -sampling-factor 2x2 $W/m.jpg" \
  "$vips jpegsave $W/page24.ppm $W/v.jpg --Q 75 --interlace"
row "JPEG 24-bit baseline" page24 3 1 75 jpg \
  "$im $W/page24.bmp -quality 75 -sampling-factor 2x2 $W/m.jpg" \
  "$vips jpegsave $W/page24.ppm $W/v.jpg --Q 75"
row "JPEG gray progressive" page8g 3 16 75 jpg \
  "$im $W/page8g.bmp -quality 75 -interlace JPEG $W/m.jpg" \
  "$vips jpegsave $W/page8g.pgm $W/v.jpg --Q 75 --interlace"
# PNG: zlib level 6 and adaptive filters are libpng's defaults.
row "PNG 24-bit" page24 4 0 75 png "$im $W/page24.bmp -quality 65 $W/m.png" \
  "$vips pngsave $W/page24.ppm $W/v.png --compression 6 --filter all"
row "PNG 8-bit palette" page8 4 0 75 png "$im $W/page8.bmp -quality 65 png8:$W/m.png" -
row "PNG 8-bit gray" page8g 4 0 75 png "$im $W/page8g.bmp -quality 65 $W/m.png" \
  "$vips pngsave $W/page8g.pgm $W/v.png --compression 6 --filter all"
row "PNG 4-bit palette" page4 4 0 75 png "$im $W/page4.bmp -quality 65 $W/m.png" -
row "PNG 1-bit" page1 4 0 75 png "$im $W/page1.bmp -quality 65 $W/m.png" \
  "$vips pngsave $W/page1.pbm $W/v.png --compression 6 --bitdepth 1"
# GIF, PCX, TGA, Sun raster: libvips has no writer of these that keeps the
# palette (its GIF saver always quantises again), so ImageMagick is the peer.
row "GIF 8-bit" page8 2 0 75 gif "$im $W/page8.bmp $W/m.gif" -
row "GIF 4-bit" page4 2 0 75 gif "$im $W/page4.bmp $W/m.gif" -
row "GIF 1-bit" page1 2 0 75 gif "$im $W/page1.bmp $W/m.gif" -
row "PCX 24-bit" page24 8 0 75 pcx "$im $W/page24.bmp $W/m.pcx" -
row "PCX 8-bit" page8 8 0 75 pcx "$im $W/page8.bmp $W/m.pcx" -
row "PCX 4-bit" page4 8 0 75 pcx "$im $W/page4.bmp $W/m.pcx" -
row "PCX 1-bit" page1 8 0 75 pcx "$im $W/page1.bmp $W/m.pcx" -
row "TGA 24-bit" page24 7 0 75 tga "$im $W/page24.bmp $W/m.tga" -
row "TGA 8-bit" page8 7 0 75 tga "$im $W/page8.bmp $W/m.tga" -
row "RAS 24-bit" page24 15 0 75 ras "$im $W/page24.bmp sun:$W/m.ras" -
row "RAS 8-bit gray" page8g 15 0 75 ras "$im $W/page8g.bmp sun:$W/m.ras" -
# JPEG 2000 at the engine's quality 75 (rate 0.75 of the raw size, which a
# page undercuts by far, so every peer is asked for lossless output).
row "JP2 24-bit" page24 11 0 75 jp2 "$im $W/page24.bmp -quality 100 $W/m.jp2" \
  "$vips jp2ksave $W/page24.ppm $W/v.jp2 --lossless"
row "JP2 8-bit gray" page8g 11 0 75 jp2 "$im $W/page8g.bmp -quality 100 $W/m.jp2" \
  "$vips jp2ksave $W/page8g.pgm $W/v.jp2 --lossless"
row "JPC 24-bit" page24 12 0 75 j2k "$im $W/page24.bmp -quality 100 j2k:$W/m.j2k" -
row "JPC 8-bit gray" page8g 12 0 75 j2k "$im $W/page8g.bmp -quality 100 j2k:$W/m.j2k" -
