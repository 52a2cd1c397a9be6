// The benchmark groups main registers, and the counting mode for callgrind.
#pragma once

namespace kivbench {

void register_step_benchmarks();
void register_registry_benchmarks();
void register_host_benchmarks();

// Runs a fixed number of steps and exits; see step_bench.cpp for the format.
int run_count_mode(const char* mode);

}  // namespace kivbench
