#!/usr/bin/env bash
# The pipeline of gitlab-ci.yml on one machine: the example suites run in
# shards side by side (xargs -P), the shares merged, the reports written, and
# the merged result compared with the stored baseline.
#   examples/ci/run-local.sh [KIVRUN] [LIBRARY] [OUT_DIR]
# Exit code: 0 all passed and nothing regressed; 1 a case failed or the diff
# found a regression; 2 bad input or a share that did not run.
set -euo pipefail
cd "$(dirname "$0")/../.."
kivrun=$(realpath "${1:-build/host/kivrun}")
library=$(realpath "${2:-build/libdllharness.so}")
out=${3:-build/ci}
shards=${SHARDS:-4}
suites=(examples/seat_heater.csv examples/seat_heater.generated.csv)
justify=(--justify examples/seat_heater.justify.csv)

mkdir -p "$out"
rm -f "$out"/shard-*.json
# Each share as its own process; exit 1 (a failed case) still leaves its
# result to merge, anything else stops the pipeline here.
export kivrun library out shards
seq 0 $((shards - 1)) | xargs -P "$shards" -I{} bash -c '
  "$kivrun" run "$library" "$@" --shard {}/"$shards" -q --json "$out/shard-{}.json" >"$out/shard-{}.log" 2>&1 ||
    [ $? -eq 1 ] || { cat "$out/shard-{}.log" >&2; exit 255; }' share "${suites[@]}" "${justify[@]}" ||
  { echo "run-local: a share did not run; nothing merged" >&2; exit 2; }

"$kivrun" merge "$out"/shard-*.json -o "$out/merged.json"
status=0
# The reports, from the merged result as from a run (exit 1: a case failed).
"$kivrun" report "$out/merged.json" --text --junit "$out/report.xml" --html "$out/html" || status=$?
"$kivrun" diff examples/ci/baseline.json "$out/merged.json" >"$out/diff.txt" || { s=$?; [ $s -le $status ] || status=$s; }
cat "$out/diff.txt"
exit $status
