#!/usr/bin/env bash
# Checks that a change made only for speed changed no output: converts the
# golden jobs, the corpus and the examples with two builds' varnel-convert and
# compares what came out. Files of the lossless formats whose layout did not
# change must be equal byte for byte; LZW TIFF (its strips may differ) and
# JPEG 2000 (its code stream may differ) must decode to the same pixels.
#
#   bench/pipeline/same-output.sh OLD_BUILD NEW_BUILD [DPI]   (default 150)
#
# Needs tiffinfo and tiff2rgba (libtiff-tools) and opj_decompress (libopenjp2-tools).
# Environment: CORPUS (default ../shared/corpus), CASES (a regular expression
# choosing the cases by name).
set -uo pipefail
cd "$(dirname "$0")/../.."
old=${1:?usage: same-output.sh OLD_BUILD NEW_BUILD [DPI]}
new=${2:?usage: same-output.sh OLD_BUILD NEW_BUILD [DPI]}
dpi=${3:-150}
corpus=${CORPUS:-../shared/corpus}
work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-same-XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/in"
n=0
for f in tests/render/jobs/* "$new"/render-jobs/* "$corpus"/*/* examples/*; do
  [ -f "$f" ] || continue
  case "$f" in *.md | *.txt) continue ;; esac
  n=$((n + 1))
  cp "$f" "$work/in/$(printf '%03d' $n)-$(basename "$f")"
done
echo "$n jobs at $dpi dpi"

# name | how outputs are compared (bytes, tiff, j2k) | options, ";" between them
cases=(
  "png|bytes|-f;png"
  "png-256|bytes|-f;png;-c;256 Color"
  "bmp|bytes|-f;bmp"
  "tiff-g4|bytes|-f;tif;-c;B&W;--compression;fax4"
  "tiff-lzw-24|tiff|-f;tif;-c;True Color;--compression;lzw"
  "tiff-lzw-256|tiff|-f;tif;-c;256 Color;--compression;lzw"
  "tiff-lzw-gray|tiff|-f;tif;-c;256 Grays;--compression;lzw"
  "tiff-lzw-16|tiff|-f;tif;-c;16 Color;--compression;lzw"
  "tiff-lzw-bw|tiff|-f;tif;-c;B&W;--compression;lzw"
  "jp2|j2k|-f;jp2"
  "jpc-gray|j2k|-f;jpc;-c;256 Grays"
)
pnm() { opj_decompress -quiet -i "$1" -o "$2" >/dev/null 2>&1 && tail -c +16 "$2"; }
# The pixels of a TIFF as uncompressed RGBA (tiffcmp's exit status says
# nothing about differences): the header and the rows, without the tags.
pixels() {
  local w h
  read -r w h < <(tiffinfo "$1" 2>/dev/null | awk '/Image Width/ { print $3, $6; exit }')
  tiff2rgba -c none -r 16 "$1" "$2" >/dev/null 2>&1 && head -c $((8 + w * h * 4)) "$2"
}
bad=0
for entry in "${cases[@]}"; do
  IFS='|' read -r name how options <<<"$entry"
  IFS=';' read -ra args <<<"$options"
  [[ $name =~ ${CASES:-.} ]] || continue
  for b in old new; do
    build=${!b}
    rm -rf "$work/$b"
    "$build/bin/varnel-convert" "${args[@]}" -r "$dpi" --timeout 0 -o "$work/$b" --no-each \
      "$work/in" >/dev/null 2>&1
  done
  files=0
  differ=0
  while IFS= read -r -d '' a; do
    rel=${a#"$work/old/"}
    b=$work/new/$rel
    files=$((files + 1))
    if [ ! -f "$b" ]; then
      echo "  $name: $rel missing in the new output"
      differ=$((differ + 1))
      continue
    fi
    case $how in
      bytes) cmp -s "$a" "$b" ;;
      tiff) cmp -s <(pixels "$a" "$work/a.tif") <(pixels "$b" "$work/b.tif") ;;
      j2k) cmp -s <(pnm "$a" "$work/a.pnm") <(pnm "$b" "$work/b.pnm") ;;
    esac || {
      echo "  $name: $rel differs"
      differ=$((differ + 1))
    }
  done < <(find "$work/old" -type f -print0 | sort -z)
  extra=$(find "$work/new" -type f | wc -l)
  [ "$extra" -ne "$files" ] && echo "  $name: $files old outputs, $extra new" && differ=$((differ + 1))
  printf '%-14s %4d outputs, %d differ\n' "$name" "$files" "$differ"
  bad=$((bad + differ))
done
[ "$bad" -eq 0 ] && echo "same output" || echo "$bad differences"
[ "$bad" -eq 0 ]
