#!/usr/bin/env bash
# The window lifter's libFuzzer peer against kivrun generate: executions to
# reach the goals generate reaches. Each seed runs the peer up to RUNS
# executions from an empty corpus, cases up to generate's 256 steps (11 bytes
# a step), with value profiles (libFuzzer's own use of comparison operands).
# A peer that has not reached them all by then needs more than RUNS, so the
# ratio printed is a lower bound.
#   scripts/bench-fuzz-peer.sh BUILD    (after kiv_generate_bench wrote BUILD/bench-generate.json)
# Writes BUILD/bench-fuzz-peer.json.
set -euo pipefail
build=$1
runs=${KIV_PEER_RUNS:-1000000}
peer="$build/bench/window_lifter_fuzz"
summary="$build/bench-generate.json"
# "window_lifter": {..., "reachable": 538, "executions_median": 32531, ...}
field() { sed -n "s/.*\"window_lifter\": {[^}]*\"$1\": \([0-9]*\).*/\1/p" "$summary"; }
reachable=$(field reachable)
median=$(field executions_median)
[ -n "$reachable" ] && [ -n "$median" ] || { echo "no window_lifter figures in $summary"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for seed in 1 2; do
  mkdir "$tmp/corpus$seed"
  KIV_PEER_GOALS=$reachable "$peer" -seed=$seed -runs="$runs" -max_len=2816 -use_value_profile=1 \
    "$tmp/corpus$seed" >"$tmp/out$seed" 2>&1 &
done
wait

echo "libFuzzer peer on the window lifter, $reachable reachable goals, up to $runs executions a seed"
printf '%6s %8s %22s %14s\n' seed goals "last new at execution" "vs generate"
json="{\"reachable\": $reachable, \"runs\": $runs, \"generate_median\": $median, \"seeds\": ["
worst=""
for seed in 1 2; do
  last=$(grep '^kiv-peer:' "$tmp/out$seed" | tail -1)
  goals=$(awk '{ print $2 }' <<<"$last")
  at=$(awk '{ print $6 }' <<<"$last")
  # All reached: the ratio is exact; otherwise the peer needs more than $runs.
  if [ "${goals:-0}" -ge "$reachable" ]; then needed=$at sign=""; else needed=$runs sign=">"; fi
  ratio=$(awk -v a="$needed" -v b="$median" 'BEGIN { printf "%.0f", a / b }')
  printf '%6s %8s %22s %13s\n' "$seed" "${goals:-0}" "${at:-none}" "$sign${ratio}x"
  json+="{\"seed\": $seed, \"goals\": ${goals:-0}, \"last_new\": ${at:-0}, \"ratio_at_least\": $ratio},"
  [ -z "$worst" ] || [ "$ratio" -lt "$worst" ] && worst=$ratio
done
echo "${json%,}]}" >"$build/bench-fuzz-peer.json"
awk -v r="$worst" -v m="$median" 'BEGIN {
  printf "generate reaches all in a median %d executions: at least %dx fewer than the peer (target 10x): %s\n",
         m, r, (r >= 10 ? "met" : "MISSED") }'
