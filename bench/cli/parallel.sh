#!/usr/bin/env bash
# varnel-convert on 40 mixed print files (the corpus and the samples) at
# 300 dpi to PNG: wall time with -j 1 and -j 2, the speed-up, and the share of
# a serial run's wall time spent outside rendering and converting (process
# start, reports, the batch loop).
#   bench/cli/parallel.sh [BUILD] [CORPUS]   (defaults: build, ../shared/corpus)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
corpus=${2:-../shared/corpus}
convert="$build/bin/varnel-convert"
[ -x "$convert" ] || { echo "no $convert; build the varnel-convert target" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jobs"
n=0
add() { n=$((n + 1)); cp "$1" "$work/jobs/$(printf '%02d' "$n")-$(basename "$1")"; }
if [ -d "$corpus" ]; then
  for f in "$corpus"/pcl5/* "$corpus"/pclxl/* "$corpus"/hpgl/* "$corpus"/pcl3gui/* "$corpus"/synthetic/*; do
    case "${f,,}" in *.pcl|*.pxl|*.px3|*.prn|*.plt|*.hpg|*.hpgl|*.pcl5|*.pclxl) ;; *) continue ;; esac
    [ -f "$f" ] && [ $n -lt 40 ] && add "$f"
  done
fi
while [ $n -lt 40 ]; do
  for f in examples/*; do [ $n -lt 40 ] && add "$f"; done
done
echo "$n files, $(du -sh "$work/jobs" | cut -f1)"

run() { # run JOBS: "wall-seconds report-file" of one run
  rm -rf "$work/out"
  local start end report="$work/report-$1-$RANDOM.jsonl"
  start=$(date +%s.%N)
  "$convert" -j "$1" --timeout 0 --json -o "$work/out" "$work/jobs" >"$report" 2>/dev/null || true
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc -l) $report"
}
best() { # the fastest of three runs
  local b="" t
  for _ in 1 2 3; do
    t=$(run "$1")
    if [ -z "$b" ] || [ "$(echo "${t%% *} < ${b%% *}" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}
read -r j1 report1 < <(best 1)
read -r j2 report2 < <(best 2)
python3 - "$report1" "$j1" "$j2" <<'PY'
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
j1, j2 = float(sys.argv[2]), float(sys.argv[3])
work = sum(r["convert_seconds"] for r in rows)
failed = sum(r["status"] != "Succeed" for r in rows)
pages = sum(r["pages"] for r in rows)
print(f"files {len(rows)} (failed {failed}), pages {pages}")
print(f"-j 1: {j1:.2f} s   -j 2: {j2:.2f} s   speed-up {j1 / j2:.2f}x")
print(f"fastest serial run: rendering and converting {work:.2f} s, outside {j1 - work:.2f} s "
      f"({100 * (j1 - work) / j1:.1f} % of the wall time)")
PY
