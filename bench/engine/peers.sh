#!/bin/bash
# Times the page converter against ImageMagick on an A4 300-dpi page, one
# process per conversion for both, and prints the ratio ours / peer (goal:
# at most 1.0). Then measures the peak memory of our runs.
#
#   bench/engine/peers.sh <build dir> [repeats] [case filter]
#
# The filter is an extended regular expression matched against the case
# names ("TIFF|JP2" runs those only).
#
# Needs the engine_convert program of that build (target engine_convert,
# configured with -DVARNEL_BENCH=ON), /usr/bin/convert and /usr/bin/time.
set -u
build=${1:?usage: peers.sh <build dir> [repeats]}
repeats=${2:-3}
filter=${3:-.}
ours=$build/bench/engine_convert
peer=/usr/bin/convert
[ -x "$ours" ] || { echo "missing $ours: build the engine_convert target" >&2; exit 1; }
[ -x "$peer" ] || { echo "missing $peer (imagemagick)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/engine-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
page=$work/page.bmp
"$ours" --make-page "$page" || { echo "cannot make the page" >&2; exit 1; }
bitmap=$(( 2481 * 3507 * 3 ))

# Best wall time of $repeats runs, in milliseconds.
best_ms() {
    local best=0 start end t i
    for ((i = 0; i < repeats; i++)); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || { echo FAIL; return; }
        end=$(date +%s%N)
        t=$(( (end - start) / 1000000 ))
        if (( best == 0 || t < best )); then best=$t; fi
    done
    echo $best
}

# name | format code | our colour mode | extension | peer options (before the output)
cases=(
  "BMP true colour|1|True Color|bmp|-type TrueColor|BMP3:"
  "BMP 256 colours|1|256 Color|bmp|+dither -colors 256 -type Palette|BMP3:"
  "BMP black and white|1|B&W|bmp|-threshold 50% -type Bilevel|BMP3:"
  "JPEG true colour|4|True Color|jpg|-quality 75 -interlace Plane|"
  "JPEG 256 colours (gray)|4|256 Color|jpg|-colorspace Gray -quality 75 -interlace Plane|"
  "JPEG B&W (true colour)|4|B&W|jpg|-quality 75 -interlace Plane|"
  "PNG true colour|5|True Color|png|-type TrueColor|PNG24:"
  "PNG 256 colours|5|256 Color|png|+dither -colors 256|PNG8:"
  "PNG black and white|5|B&W|png|-threshold 50% -type Bilevel|"
  "GIF true colour (256 palette)|6|True Color|gif|+dither -colors 256|"
  "GIF 256 colours|6|256 Color|gif|+dither -colors 256|"
  "GIF black and white|6|B&W|gif|-threshold 50% -colors 2|"
  "TIFF true colour JPEG|7|True Color|tif|-compress JPEG -quality 75|"
  "TIFF 256 colours LZW|7|256 Color|tif|+dither -colors 256 -compress LZW|"
  "TIFF black and white G4|7|B&W|tif|-threshold 50% -type Bilevel -compress Group4|"
  "PCX true colour|8|True Color|pcx|-type TrueColor|"
  "PCX 256 colours|8|256 Color|pcx|+dither -colors 256 -type Palette|"
  "PCX black and white|8|B&W|pcx|-threshold 50% -type Bilevel|"
  "TGA true colour|9|True Color|tga|-type TrueColor|"
  "TGA 256 colours|9|256 Color|tga|+dither -colors 256 -type Palette|"
  "TGA B&W (true colour)|9|B&W|tga|-type TrueColor|"
  "JP2 true colour|10|True Color|jp2|-define jp2:rate=1.333|"
  "JP2 256 colours (true colour)|10|256 Color|jp2|-define jp2:rate=1.333|"
  "JP2 B&W (true colour)|10|B&W|jp2|-define jp2:rate=1.333|"
  "RAS true colour|11|True Color|ras|-type TrueColor|SUN:"
  "RAS 256 colours (true colour)|11|256 Color|ras|-type TrueColor|SUN:"
  "RAS B&W (true colour)|11|B&W|ras|-type TrueColor|SUN:"
  "JPC true colour|12|True Color|jpc|-define jp2:rate=1.333|J2K:"
  "JPC 256 colours (true colour)|12|256 Color|jpc|-define jp2:rate=1.333|J2K:"
  "JPC B&W (true colour)|12|B&W|jpc|-define jp2:rate=1.333|J2K:"
  "EMF (no peer)|2|True Color|emf||"
  "WMF (no peer)|3|True Color|wmf||"
)

printf '%-32s %9s %9s %7s %9s\n' case ours_ms peer_ms ratio peak_MB
worst=0
peak_max=0
for entry in "${cases[@]}"; do
    IFS='|' read -r name code mode ext peer_options peer_prefix <<<"$entry"
    [[ $name =~ $filter ]] || continue
    out=$work/ours.$ext
    t_ours=$(best_ms "$ours" "$page" "$out" "$code" "$mode")
    peak=$(/usr/bin/time -f %M "$ours" "$page" "$out" "$code" "$mode" 2>&1 >/dev/null | tail -1)
    peak_mb=$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')
    (( peak > peak_max )) && peak_max=$peak
    if [ "$code" = 2 ] || [ "$code" = 3 ]; then
        printf '%-32s %9s %9s %7s %9s\n' "$name" "$t_ours" - - "$peak_mb"
        continue
    fi
    # shellcheck disable=SC2086  # the peer options are a word list
    t_peer=$(best_ms "$peer" "$page" $peer_options "${peer_prefix}$work/peer.$ext")
    ratio=$(awk -v a="$t_ours" -v b="$t_peer" 'BEGIN { if (b > 0 && a != "FAIL") printf "%.2f", a / b; else print "-" }')
    printf '%-32s %9s %9s %7s %9s\n' "$name" "$t_ours" "$t_peer" "$ratio" "$peak_mb"
    if [ "$ratio" != - ] && awk -v r="$ratio" -v w="$worst" 'BEGIN { exit !(r > w) }'; then worst=$ratio; fi
done
echo
awk -v k="$peak_max" -v b="$bitmap" 'BEGIN { printf "page bitmap %.1f MB; largest peak %.1f MB = %.2f x the bitmap (goal <= 3)\n", b / 1048576, k / 1024, k * 1024 / b }'
echo "worst ratio ours/peer: $worst (goal <= 1.0)"
