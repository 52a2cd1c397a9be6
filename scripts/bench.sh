#!/usr/bin/env bash
# Builds and runs the benchmarks: times (Google Benchmark, fastest of five
# interleaved repetitions) and, when valgrind is installed, instruction counts
# per step, which unlike times repeat exactly on a busy machine.
#   scripts/bench.sh [build dir] [extra kiv_bench options, e.g. --benchmark_filter=step]
# Writes <build>/bench.json (every run), <build>/bench-summary.json (the
# summary table) and <build>/bench-callgrind.json.
set -euo pipefail
build=$(realpath -m "${1:-build}")
shift || true
jobs=${JOBS:-$(nproc)}
cd "$(dirname "$0")/.."

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$jobs" --target kiv_bench kiv_generate_bench
bench="$build/bench/kiv_bench"

"$bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_min_time=0.05 \
  --benchmark_out="$build/bench.json" --benchmark_out_format=json \
  --kiv_summary_out="$build/bench-summary.json" "$@"

# kivrun merge (writes <build>/bench-merge.json).
cmake --build "$build" -j "$jobs" --target kiv_merge_bench >/dev/null
echo
"$build/bench/kiv_merge_bench" --benchmark_repetitions=5 --kiv_summary_out="$build/bench-merge.json"

# The window lifter's HTML report from its JSON result (writes <build>/bench-html.json), when built.
if cmake --build "$build" -j "$jobs" --target kiv_html_bench >/dev/null 2>&1; then
  echo
  "$build/bench/kiv_html_bench" --benchmark_repetitions=5 --kiv_summary_out="$build/bench-html.json"
fi

# kivinst on both plain units (writes <build>/bench-kivinst.json), when built.
if cmake --build "$build" -j "$jobs" --target kiv_kivinst_bench >/dev/null 2>&1; then
  echo
  "$build/bench/kiv_kivinst_bench" --benchmark_repetitions=5 --kiv_summary_out="$build/bench-kivinst.json"
fi

# kivrun generate over 20 seeds (writes <build>/bench-generate.json).
echo
"$build/bench/kiv_generate_bench" --json "$build/bench-generate.json"

# Its libFuzzer peer on the window lifter (writes <build>/bench-fuzz-peer.json),
# where clang can build it.
if cmake --build "$build" -j "$jobs" --target kiv_fuzz_peer >/dev/null 2>&1; then
  echo
  scripts/bench-fuzz-peer.sh "$build"
fi

if ! command -v valgrind >/dev/null; then
  echo "valgrind not installed: no instruction counts"
  exit 0
fi

steps=2000
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Instructions callgrind counts for one run of the counting mode; with a
# function name, only those executed inside that function (callees included).
count() {  # mode [function]
  local out="$tmp/callgrind.out" toggle=()
  [ -n "${2:-}" ] && toggle=(--toggle-collect="$2")
  valgrind --tool=callgrind --callgrind-out-file="$out" "${toggle[@]}" "$bench" --kiv_count="$1" >/dev/null 2>&1
  awk '/^summary:/ { print $2 }' "$out"
}

# Per step: a run of $steps steps less a run of none. Both prepare alike (the
# scope's first step with its initialisation), so the difference is steps alone.
per_step() {  # build what [function]
  local many none
  many=$(count "$1:$2:$steps" "${3:-}")
  none=$(count "$1:$2:0" "${3:-}")
  awk -v a="$many" -v b="$none" -v n="$steps" 'BEGIN { printf "%.1f", (a - b) / n }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo
echo "callgrind: instructions per step ($steps steps less a run of none)"
printf '%-34s %14s %14s %8s\n' "" "compiled out" "instrumented" "ratio"
json="["
for scope in 955 981 987 997; do
  bare=$(per_step noprobe "$scope" kiv_dll_step)
  probed=$(per_step probes "$scope" kiv_dll_step)
  printf '%-34s %14s %14s %7sx\n' "kiv_dll_step $scope alone" "$bare" "$probed" "$(ratio "$probed" "$bare")"
  [ "$scope" = 955 ] && wrapper_bare=$bare wrapper_probed=$probed
  json+="{\"name\": \"kiv_dll_step $scope\", \"noprobe\": $bare, \"probes\": $probed},"
done
# The same scopes on the seat heater that kiv_add_harness built from its plain
# sources, against the hand-written library (target: at most 1.5 times).
if "$bench" --kiv_count=generated:955:0 >/dev/null 2>&1; then
  printf '%-34s %14s %14s %8s\n' "" "hand-written" "generated" "ratio"
  for scope in 955 981 987 997; do
    hand=$(per_step probes "$scope" kiv_dll_step)
    gen=$(per_step generated "$scope" kiv_dll_step)
    printf '%-34s %14s %14s %7sx\n' "kiv_dll_step $scope" "$hand" "$gen" "$(ratio "$gen" "$hand")"
    json+="{\"name\": \"generated kiv_dll_step $scope\", \"probes\": $hand, \"generated\": $gen},"
  done
fi
host_bare=$(per_step noprobe 955)
host_probed=$(per_step probes 955)
printf '%-34s %14s %14s %7sx\n' "host step 955 (3 inputs set)" "$host_bare" "$host_probed" "$(ratio "$host_probed" "$host_bare")"
goals=$(per_step probes exception kiv_dll_exception)
printf '%-34s %14s %14s %7s of the instrumented wrapper step\n' "goal evaluation (kiv_dll_exception)" "" "$goals" \
  "$(awk -v g="$goals" -v w="$wrapper_probed" 'BEGIN { printf "%.0f%%", 100 * g / w }')"
json+="{\"name\": \"host step 955\", \"noprobe\": $host_bare, \"probes\": $host_probed},"
json+="{\"name\": \"kiv_dll_exception\", \"probes\": $goals}]"
echo "$json" >"$build/bench-callgrind.json"
awk -v p="$wrapper_probed" -v b="$wrapper_bare" 'BEGIN {
  printf "wrapper step, instrumented / compiled out: %.2fx (target <= 6x): %s\n", p / b, p <= 6 * b ? "met" : "MISSED" }'
