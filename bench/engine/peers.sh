#!/bin/bash
# Times the page converter on an A4 300-dpi page, one process per conversion,
# against the fastest programs that use the same format library where there
# is one (JPEG 2000: OpenJPEG's own opj_compress, and library_floor, our bare
# program over libopenjp2), and prints the ratio ours / fastest peer. Then
# measures the peak memory of our runs.
#
#   bench/engine/peers.sh <build dir> [repeats] [case filter]
#
# The filter is an extended regular expression matched against the case
# names ("TIFF|JP2" runs those only).
#
# Needs the engine_convert and library_floor programs of that build (targets
# engine_convert and library_floor, configured with -DVARNEL_BENCH=ON),
# opj_compress and /usr/bin/time.
set -u
build=${1:?usage: peers.sh <build dir> [repeats]}
repeats=${2:-3}
filter=${3:-.}
ours=$build/bench/engine_convert
floor=$(find "$build" -name library_floor -type f -perm -u+x 2>/dev/null | head -n 1)
opj=$(command -v opj_compress || true)
[ -x "$ours" ] || { echo "missing $ours: build the engine_convert target" >&2; exit 1; }
[ -n "$floor" ] || { echo "missing library_floor: build the library_floor target" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/engine-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
page=$work/page.bmp
peerout=$work/peer
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

# name | format code | our colour mode | extension | peer commands, ";" between
# them (PAGE and OUT stand for the page and an output path); empty: no peer
opj_peer() { [ -n "$opj" ] && echo "$opj -i PAGE -o OUT.$1 -t 512,512 -threads $(nproc);"; }
cases=(
  "BMP true colour|1|True Color|bmp|"
  "BMP 256 colours|1|256 Color|bmp|"
  "BMP black and white|1|B&W|bmp|"
  "JPEG true colour|4|True Color|jpg|"
  "JPEG 256 colours (gray)|4|256 Color|jpg|"
  "JPEG B&W (true colour)|4|B&W|jpg|"
  "PNG true colour|5|True Color|png|"
  "PNG 256 colours|5|256 Color|png|"
  "PNG black and white|5|B&W|png|"
  "GIF true colour (256 palette)|6|True Color|gif|"
  "GIF 256 colours|6|256 Color|gif|"
  "GIF black and white|6|B&W|gif|"
  "TIFF true colour JPEG|7|True Color|tif|"
  "TIFF 256 colours LZW|7|256 Color|tif|"
  "TIFF black and white G4|7|B&W|tif|"
  "PCX true colour|8|True Color|pcx|"
  "PCX 256 colours|8|256 Color|pcx|"
  "PCX black and white|8|B&W|pcx|"
  "TGA true colour|9|True Color|tga|"
  "TGA 256 colours|9|256 Color|tga|"
  "TGA B&W (true colour)|9|B&W|tga|"
  "JP2 true colour|10|True Color|jp2|$(opj_peer jp2)$floor jp2 PAGE OUT"
  "JP2 256 colours (true colour)|10|256 Color|jp2|$(opj_peer jp2)$floor jp2 PAGE OUT"
  "JP2 B&W (true colour)|10|B&W|jp2|$(opj_peer jp2)$floor jp2 PAGE OUT"
  "RAS true colour|11|True Color|ras|"
  "RAS 256 colours (true colour)|11|256 Color|ras|"
  "RAS B&W (true colour)|11|B&W|ras|"
  "JPC true colour|12|True Color|jpc|$(opj_peer j2k)$floor j2k PAGE OUT"
  "JPC 256 colours (true colour)|12|256 Color|jpc|$(opj_peer j2k)$floor j2k PAGE OUT"
  "JPC B&W (true colour)|12|B&W|jpc|$(opj_peer j2k)$floor j2k PAGE OUT"
  "EMF (no peer)|2|True Color|emf|"
  "WMF (no peer)|3|True Color|wmf|"
)

printf '%-32s %9s %9s %7s %9s\n' case ours_ms peer_ms ratio peak_MB
worst=0
peak_max=0
for entry in "${cases[@]}"; do
    IFS='|' read -r name code mode ext peers <<<"$entry"
    [[ $name =~ $filter ]] || continue
    out=$work/ours.$ext
    t_ours=$(best_ms "$ours" "$page" "$out" "$code" "$mode")
    peak=$(/usr/bin/time -f %M "$ours" "$page" "$out" "$code" "$mode" 2>&1 >/dev/null | tail -1)
    peak_mb=$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')
    (( peak > peak_max )) && peak_max=$peak
    t_peer=-
    IFS=';' read -ra commands <<<"$peers"
    for command in "${commands[@]}"; do
        command=${command//PAGE/$page}
        command=${command//OUT/$peerout}
        # shellcheck disable=SC2086  # a command line as words
        t=$(best_ms $command)
        [[ $t =~ ^[0-9]+$ ]] || continue
        if [ "$t_peer" = - ] || (( t < t_peer )); then t_peer=$t; fi
    done
    ratio=$(awk -v a="$t_ours" -v b="$t_peer" 'BEGIN { if (b != "-" && b > 0 && a != "FAIL") printf "%.2f", a / b; else print "-" }')
    printf '%-32s %9s %9s %7s %9s\n' "$name" "$t_ours" "$t_peer" "$ratio" "$peak_mb"
    if [ "$ratio" != - ] && awk -v r="$ratio" -v w="$worst" 'BEGIN { exit !(r > w) }'; then worst=$ratio; fi
done
echo
awk -v k="$peak_max" -v b="$bitmap" 'BEGIN { printf "page bitmap %.1f MB; largest peak %.1f MB = %.2f x the bitmap (goal <= 3)\n", b / 1048576, k / 1024, k * 1024 / b }'
echo "worst ratio ours/fastest peer: $worst (goal <= 0.8 for JPEG 2000)"
