#!/usr/bin/env bash
# End-to-end timing of kivrun, from start to exit (load, parse, run, report):
# suites of ten-step cases with four checks per step, written by
# scripts/bench-suite.awk, each run a few times; prints the fastest wall time,
# its split as kivrun reports it, and the peak resident memory; then the
# wall time of kivrun merge over 64 such results.
#   scripts/bench-e2e.sh [build dir] [cases...]   (default: 10000 100000)
set -euo pipefail
build=$(realpath -m "${1:-build}")
shift || true
sizes=("${@:-10000}")
[ $# -gt 0 ] || sizes=(10000 100000)
cd "$(dirname "$0")/.."
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target kivrun dllharness dllharness_catalog >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

printf '%-8s %10s %10s %10s %10s %10s\n' cases "wall s" "parse s" "run s" "report s" "max RSS MB"
for n in "${sizes[@]}"; do
  awk -v n="$n" -f scripts/bench-suite.awk >"$tmp/suite.csv"
  best=
  for _ in 1 2 3 4 5; do
    # Wall time of the whole process, exec to exit; GNU time's own has
    # centiseconds only.
    t0=$(date +%s.%N)
    /usr/bin/time -f '%M' -o "$tmp/rss" "$build/host/kivrun" run "$build/libdllharness.so" "$tmp/suite.csv" \
      >"$tmp/out" || { echo "kivrun failed on $n cases"; tail "$tmp/out"; exit 1; }
    t1=$(date +%s.%N)
    wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')
    if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$wall
      # "kivrun: N cases, M steps, T s (parse P, run R, report Q; ...)"
      split=$(grep -m1 '^kivrun: .* cases, ' "$tmp/out" | sed -E 's/.*\(parse ([0-9.]+), run ([0-9.]+), report ([0-9.]+);.*/\1 \2 \3/')
      rss=$(awk '{printf "%.0f", $1 / 1024}' "$tmp/rss")
    fi
  done
  read -r parse run report <<<"$split"
  printf '%-8s %10.3f %10.3f %10.3f %10.3f %10s\n' "$n" "$best" "$parse" "$run" "$report" "$rss"
done

# kivrun merge end to end: 64 results of 10,000 cases (copies of one suite
# under 64 names, each with a comment of its own, each run alone), merged
# into one file; fastest of three.
mkdir "$tmp/merge"
awk -v n=10000 -f scripts/bench-suite.awk >"$tmp/merge/suite.csv"
# Each copy differs by a comment line: a result knows its suite by content,
# and merge takes two paths of one content for one suite.
for k in $(seq -w 0 63); do { echo "# part $k"; cat "$tmp/merge/suite.csv"; } >"$tmp/merge/part$k.csv"; done
rm "$tmp/merge/suite.csv"
ls "$tmp"/merge/part*.csv | xargs -P "${JOBS:-$(nproc)}" -I{} \
  "$build/host/kivrun" run -q "$build/libdllharness.so" {} --json {}.json >/dev/null
best=
for _ in 1 2 3; do
  t0=$(date +%s.%N)
  /usr/bin/time -f '%M' -o "$tmp/rss" "$build/host/kivrun" merge "$tmp"/merge/part*.json -o "$tmp/merged.json" >/dev/null
  t1=$(date +%s.%N)
  wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')
  if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
    best=$wall rss=$(awk '{printf "%.0f", $1 / 1024}' "$tmp/rss")
  fi
done
printf '\nkivrun merge, 64 results of 10,000 cases: %.3f s wall, %s MB max RSS (%s MB in, %s MB out)\n' "$best" "$rss" \
  "$(du -cm "$tmp"/merge/part*.json | tail -1 | cut -f1)" "$(du -m "$tmp/merged.json" | cut -f1)"
