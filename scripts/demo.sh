#!/usr/bin/env bash
# The main job: run the example host against the freshly built library.
set -euo pipefail
build=${1:-build}
if [ -x "$build/host/kivrun" ] && [ -f examples/seat_heater.csv ]; then
  exec "$build/host/kivrun" run "$build/libdllharness.so" examples/seat_heater.csv
fi
exec "$build/registry_dump" "$build/libdllharness.so"
