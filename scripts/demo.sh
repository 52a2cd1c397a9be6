#!/usr/bin/env bash
# The main job: run the example host against the freshly built library.
set -euo pipefail
build=${1:-build}
if [ -x "$build/host/kivrun" ] && [ -f examples/seat_heater.csv ]; then
  # The goals no input can reach are justified, so the demo shows full coverage.
  exec "$build/host/kivrun" run "$build/libdllharness.so" examples/seat_heater.csv \
    --justify examples/seat_heater.justify.csv
fi
exec "$build/registry_dump" "$build/libdllharness.so"
