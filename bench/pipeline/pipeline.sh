#!/usr/bin/env bash
# The whole pipeline, print file to output files, on the 60-page corpus job and
# the example jobs at 150, 300 and 600 dpi into PNG, TIFF Group 4 and JPEG:
# pages per second and the split between rendering, the page files' hand-off
# and encoding, in wall and processor seconds.
#
#   bench/pipeline/pipeline.sh [BUILD...]   (default: build)
#
# With several build folders each case runs with every build in turn, so a
# before/after comparison sees the same load. At 600 dpi the corpus job is cut
# to its first 10 pages (a 600-dpi page file is about 100 MB). Environment:
# CORPUS (default ../shared/corpus), FORMATS (default "png g4 jpg"), DPIS
# (default "150 300 600"), JOBS (default: the corpus job and examples/*).
set -euo pipefail
cd "$(dirname "$0")/../.."
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(build)
corpus=${CORPUS:-../shared/corpus}
formats=${FORMATS:-png g4 jpg}
dpis=${DPIS:-150 300 600}
big=$corpus/pcl5/pclparaphernalia__637793870991600249.prn
if [ -n "${JOBS:-}" ]; then
  read -ra jobs <<<"$JOBS"
else
  jobs=()
  [ -f "$big" ] && jobs+=("$big")
  jobs+=(examples/*)
fi
for b in "${builds[@]}"; do
  [ -x "$b/bench/pipeline_bench" ] || { echo "no $b/bench/pipeline_bench; build the pipeline_bench target" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-pipeline-XXXXXX")
trap 'rm -rf "$work"' EXIT

for job in "${jobs[@]}"; do
  for dpi in $dpis; do
    limit=""
    [ "$job" = "$big" ] && [ "$dpi" -ge 600 ] && limit=1000 # 10 pages
    for format in $formats; do
      for b in "${builds[@]}"; do
        line=$(VARNEL_PAGE_LIMIT_MB=$limit nice "$b/bench/pipeline_bench" "$b/bin/libtarvik.so" \
          "$job" "$dpi" "$format" "$work" 2>/dev/null || echo "failed")
        printf '%-28s %4s %-4s %-14s %s\n' "$(basename "$job" | cut -c1-28)" "$dpi" "$format" \
          "$b" "$line"
      done
    done
  done
done
