#!/usr/bin/env bash
# The main job: run the example host against the freshly built library.
set -euo pipefail
build=${1:-build}
if [ -x "$build/host/kivrun" ] && [ -f examples/seat_heater.csv ]; then
  # The goals no input can reach are justified, so the demo shows full coverage.
  status=0
  "$build/host/kivrun" run "$build/libdllharness.so" examples/seat_heater.csv \
    --justify examples/seat_heater.justify.csv --html "$build/coverage-html" \
    --requirements examples/seat_heater.requirements.csv --gate untested=0,failing=0,suspect=0,unlinked=0 || status=$?
  [ -f "$build/coverage-html/index.html" ] &&
    echo "HTML report of every goal on the source: file://$(cd "$build" && pwd)/coverage-html/index.html"
  # A suite generated from the library itself, then run like the hand-written one.
  generated=$build/seat_heater.generated.csv
  echo
  echo "\$ kivrun generate $build/libdllharness.so -o $generated --justify examples/seat_heater.justify.csv -q --force"
  "$build/host/kivrun" generate "$build/libdllharness.so" -o "$generated" \
    --justify examples/seat_heater.justify.csv -q --force || status=$?
  echo
  echo "\$ kivrun run $build/libdllharness.so $generated --justify examples/seat_heater.justify.csv --fail-under total=100 -q"
  "$build/host/kivrun" run "$build/libdllharness.so" "$generated" \
    --justify examples/seat_heater.justify.csv --fail-under total=100 -q || status=$?
  exit $status
fi
exec "$build/registry_dump" "$build/libdllharness.so"
