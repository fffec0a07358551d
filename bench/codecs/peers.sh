#!/usr/bin/env bash
# Times every format writer on an A4 page at 300 dpi (2481 x 3507) beside the
# fastest programs that use the same format libraries, in one run on one
# machine:
#   tool   the library's own command-line tool (opj_compress for JPEG 2000,
#          tiffcp from an uncompressed TIFF for TIFF);
#   floor  library_floor, our bare program calling libopenjp2 or libtiff with
#          the settings that measured fastest (JPEG 2000, LZW TIFF, and JPEG
#          TIFF in YCbCr without subsampling, the kind of file ours is; tiffcp
#          subsamples the colour 2 x 2, which leaves half the samples to code).
#
#   bench/codecs/peers.sh [build-dir] [repeats] [rows]
#
# Every conversion is a whole process, file in, file out; each figure is the
# best of `repeats` runs; `rows`, a regular expression, picks rows by name
# (e.g. 'LZW'). "ratio" is ours divided by the fastest peer that can
# write the same kind of file; "writer" is our encoder alone, into memory.
# The machine is shared: compare the columns of one run, not runs.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
repeats=${2:-3}
rows=${3:-.}

find_bin() { find "$build" -name "$1" -type f -perm -u+x 2>/dev/null | head -n 1; }
bin=$(find_bin bench_writers)
floor=$(find_bin library_floor)
if [ -z "$bin" ] || [ -z "$floor" ]; then
  cmake --build "$build" --target bench_writers library_floor >/dev/null
  bin=$(find_bin bench_writers)
  floor=$(find_bin library_floor)
fi
[ -n "$bin" ] && [ -n "$floor" ] || { echo "bench_writers or library_floor not found under $build" >&2; exit 1; }

opj=$(command -v opj_compress || true)
tiffcp=$(command -v tiffcp || true)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin" make "$work"
# Uncompressed TIFF copies for tiffcp, which reads nothing else.
if [ -n "$tiffcp" ] && command -v ppm2tiff >/dev/null; then
  ppm2tiff "$work/page24.ppm" "$work/page24.tif"
  ppm2tiff "$work/page8g.pgm" "$work/page8g.tif"
  ppm2tiff -R 300 "$work/page1.pbm" "$work/page1.tif"
else
  tiffcp=""
fi
threads=$(nproc)

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

printf '| %-28s | %8s | %8s | %8s | %8s | %6s |\n' output writer ours tool floor ratio
printf '|%s|%s|%s|%s|%s|%s|\n' ------------------------------ ---------- ---------- ---------- ---------- --------

# row <label> <input> <code> <option> <quality> <extension> <tool command> <floor command>
# (a peer command of "-" means there is no such peer for this kind of file)
row() {
  local label=$1 input=$2 code=$3 option=$4 quality=$5 ext=$6 toolcmd=$7 floorcmd=$8
  local writer ours t f peers ratio
  [[ $label =~ $rows ]] || return 0
  writer=$("$bin" time "$work/$input.bmp" "$code" "$option" "$quality" "$repeats" | cut -d' ' -f1)
  ours=$(best_ms "'$bin' convert '$work/$input.bmp' '$work/ours.$ext' $code $option $quality")
  t=-
  f=-
  [ "$toolcmd" != - ] && t=$(best_ms "$toolcmd")
  [ "$floorcmd" != - ] && f=$(best_ms "$floorcmd")
  peers=$(printf '%s\n%s\n' "$t" "$f" | grep -E '^[0-9]+$' | sort -n | head -n 1 || true)
  ratio=-
  if [ -n "$peers" ] && [ "$peers" -gt 0 ] && [[ "$ours" =~ ^[0-9]+$ ]]; then
    ratio=$(awk -v a="$ours" -v b="$peers" 'BEGIN { printf "%.2f", a / b }')
  fi
  printf '| %-28s | %8s | %8s | %8s | %8s | %6s |\n' "$label" "$writer" "$ours" "$t" "$f" "$ratio"
}

# tiffcp <input> <compression>: the command, or "-" without the tool.
tcp() { if [ -n "$tiffcp" ]; then echo "$tiffcp -c $2 $W/$1.tif $W/t.tif"; else echo -; fi; }
# opj <input> <extension>: lossless, all cores.
opjc() { if [ -n "$opj" ]; then echo "$opj -i $W/$1 -o $W/t.$2 -t 512,512 -threads $threads"; else echo -; fi; }

W=$work
# TIFF: the compression words the engine passes per depth.
row "TIFF 1-bit G4" page1 6 4 75 tif "$(tcp page1 g4)" -
row "TIFF 1-bit G3" page1 6 3 75 tif "$(tcp page1 g3)" -
row "TIFF 4-bit LZW" page4 6 5 75 tif - "$floor lzw $W/page4.bmp $W/f.tif"
row "TIFF 4-bit PackBits" page4 6 32773 75 tif - -
row "TIFF 8-bit palette LZW" page8 6 5 75 tif - "$floor lzw $W/page8.bmp $W/f.tif"
row "TIFF 8-bit gray JPEG" page8g 6 19999 75 tif "$(tcp page8g jpeg:75)" -
row "TIFF 24-bit JPEG YCbCr" page24 6 19999 75 tif "$(tcp page24 jpeg:75)" "$floor jpeg $W/page24.bmp $W/f.tif"
row "TIFF 24-bit LZW" page24 6 5 75 tif "$(tcp page24 lzw:2)" "$floor lzw $W/page24.bmp $W/f.tif"
row "TIFF 24-bit PackBits" page24 6 32773 75 tif "$(tcp page24 packbits)" -
# JPEG, PNG, GIF, PCX, TGA, Sun raster: no library tool here writes these
# from a page file, so ours stand alone.
row "JPEG 24-bit progressive" page24 3 16 75 jpg - -
row "JPEG 24-bit baseline" page24 3 1 75 jpg - -
row "JPEG gray progressive" page8g 3 16 75 jpg - -
row "PNG 24-bit" page24 4 0 75 png - -
row "PNG 8-bit palette" page8 4 0 75 png - -
row "PNG 8-bit gray" page8g 4 0 75 png - -
row "PNG 4-bit palette" page4 4 0 75 png - -
row "PNG 1-bit" page1 4 0 75 png - -
row "GIF 8-bit" page8 2 0 75 gif - -
row "GIF 4-bit" page4 2 0 75 gif - -
row "GIF 1-bit" page1 2 0 75 gif - -
row "PCX 24-bit" page24 8 0 75 pcx - -
row "PCX 8-bit" page8 8 0 75 pcx - -
row "PCX 4-bit" page4 8 0 75 pcx - -
row "PCX 1-bit" page1 8 0 75 pcx - -
row "TGA 24-bit" page24 7 0 75 tga - -
row "TGA 8-bit" page8 7 0 75 tga - -
row "RAS 24-bit" page24 15 0 75 ras - -
row "RAS 8-bit gray" page8g 15 0 75 ras - -
# JPEG 2000 at the engine's quality 75 (rate 0.75 of the raw size, which a
# page undercuts by far, so the peers write lossless output).
row "JP2 24-bit" page24 11 0 75 jp2 "$(opjc page24.ppm jp2)" "$floor jp2 $W/page24.bmp $W/f.jp2"
row "JP2 8-bit gray" page8g 11 0 75 jp2 "$(opjc page8g.pgm jp2)" "$floor jp2 $W/page8g.bmp $W/f.jp2"
row "JPC 24-bit" page24 12 0 75 j2k "$(opjc page24.ppm j2k)" "$floor j2k $W/page24.bmp $W/f.j2k"
row "JPC 8-bit gray" page8g 12 0 75 j2k "$(opjc page8g.pgm j2k)" "$floor j2k $W/page8g.bmp $W/f.j2k"
