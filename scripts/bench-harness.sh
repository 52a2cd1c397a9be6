#!/bin/bash
# Harness build times (make bench): `kivinst harness -o DIR` from nothing on
# a small unit (bench/units/lamp.c, 50 lines) and on the window lifter, and
# the rebuild of a CMake project after a one-line edit of its unit; each the
# fastest of three, without the compiler cache (a user's first build has
# none). Then the share of each stage of a build from nothing: analysis
# (kivinst harness --no-build), configure, compile, link and catalog (from
# Ninja's log of the same project, seeded as kivinst harness seeds it).
# KIV_BENCH_WIDE=N adds a unit of N entry
# functions (bench/units/wide_unit.sh), built once. Writes BUILD/bench-harness.json.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target kivinst kiv_harness_runtime kiv_catalog_stamp >/dev/null
kivinst=$build/instrumenter/kivinst
config=$build/KivHarness/KivHarnessConfig.cmake
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

now() { date +%s.%N; }
# seconds COMMAND...: the wall time of one run, in seconds.
seconds() {
    local t0 t1
    t0=$(now)
    "$@" >/dev/null 2>&1
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
# fastest COMMAND...: the fastest of three runs.
fastest() {
    local best="" t
    for _ in 1 2 3; do
        t=$(seconds "$@")
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    printf '%.2f' "$best"
}

from_nothing() {  # UNIT.c: a new folder each time
    local dir
    dir=$(mktemp -d "$work/h.XXXX")
    rmdir "$dir"
    "$kivinst" harness -o "$dir" "$1"
}

cp "$root/bench/units/lamp.c" "$work/lamp.c"
lamp=$(fastest from_nothing "$work/lamp.c")
lifter=$(fastest from_nothing "$root/examples/units/window_lifter.c")

# A CMake project of the lamp; one line of it edited before each rebuild.
mkdir -p "$work/project"
cp "$root/bench/units/lamp.c" "$work/project/lamp.c"
cat >"$work/project/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(lamp C)
include("$config")
kiv_add_harness(lamp SOURCES lamp.c)
EOF
cmake "${generator[@]}" -S "$work/project" -B "$work/project/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/project/build" >/dev/null
edit=0
rebuild_after_edit() {
    edit=$((edit + 1))
    sed -i "s/^#define HOLD_CYCLES .*/#define HOLD_CYCLES $((30 + edit))u/" "$work/project/lamp.c"
    cmake --build "$work/project/build"
}
rebuild=$(fastest rebuild_after_edit)

# The stages of a build from nothing, as kivinst harness runs them.
analysis=$(seconds "$kivinst" harness --no-build -o "$work/stages/unit" "$work/lamp.c")
mkdir -p "$work/stages/project"
cat >"$work/stages/project/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(lamp C CXX)
include("$config")
kiv_add_harness(lamp SOURCES "$work/lamp.c" UNIT_SET "$work/stages/unit" OUTPUT_DIRECTORY "$work/stages/out")
EOF
# Seeded with the compilers' findings as kivinst harness seeds its build folder.
mkdir -p "$work/stages/build/CMakeFiles"
cp -r "$build/KivHarness/toolchain/." "$work/stages/build/CMakeFiles/"
echo "CMAKE_PLATFORM_INFO_INITIALIZED:INTERNAL=1" >"$work/stages/build/CMakeCache.txt"
configure=$(seconds cmake "${generator[@]}" -S "$work/stages/project" -B "$work/stages/build" -DCMAKE_BUILD_TYPE=Release)
build_all=$(seconds cmake --build "$work/stages/build" -j2)
compile=0 link=0 catalog=0
if [ -f "$work/stages/build/.ninja_log" ]; then
    read -r compile link catalog < <(awk 'NR > 1 {
        t = ($2 - $1) / 1000
        if ($4 ~ /\.o$/) c += t; else if ($4 ~ /\.so$/) l += t; else if ($4 ~ /catalog\.json$/) k += t
    } END { printf "%.2f %.2f %.2f\n", c, l, k }' "$work/stages/build/.ninja_log")
fi

wide_n=${KIV_BENCH_WIDE:-0}
wide=null
if [ "$wide_n" -gt 0 ]; then
    "$root/bench/units/wide_unit.sh" "$wide_n" >"$work/wide.c"
    wide=$(printf '%.1f' "$(seconds from_nothing "$work/wide.c")")
fi

printf '\nHarness builds (fastest of three, no compiler cache; targets in parentheses)\n'
printf '  kivinst harness, lamp.c (50 lines), from nothing   %6s s  (< 2 s)\n' "$lamp"
printf '  kivinst harness, window_lifter.c, from nothing     %6s s  (< 3 s)\n' "$lifter"
printf '  CMake project, rebuild after a one-line edit       %6s s  (< 2 s)\n' "$rebuild"
printf '  lamp.c from nothing by stage: analysis %.2f s, configure %.2f s, build %.2f s' "$analysis" "$configure" "$build_all"
printf ' (compile %s s, link %s s, catalog %s s of work on 2 jobs)\n' "$compile" "$link" "$catalog"
[ "$wide" != null ] && printf '  kivinst harness, a unit of %s entry functions     %6s s\n' "$wide_n" "$wide"
cat >"$build/bench-harness.json" <<EOF
{"lamp_from_nothing_s": $lamp, "window_lifter_from_nothing_s": $lifter, "rebuild_after_edit_s": $rebuild,
 "stages_s": {"analysis": $analysis, "configure": $configure, "build": $build_all,
              "compile_work": $compile, "link_work": $link, "catalog_work": $catalog},
 "wide_unit": {"functions": $wide_n, "from_nothing_s": $wide}}
EOF
