// The registry: opening it (two tables, 192 IDs), closing it, and access by
// index, all through the instrumented library's exports.
#include "benchmarks.h"
#include "harness_api.h"
#include "summary.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace kivbench {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The first registry call after a close opens the registry again.
void registry_open(benchmark::State& state) {
    const HarnessApi& api = instrumented();
    for (auto _ : state) {
        api.kiv_close_harness();
        const auto start = Clock::now();
        benchmark::DoNotOptimize(api.kiv_nr_registered_functions("959"));
        state.SetIterationTime(seconds_since(start));
    }
}

void registry_close(benchmark::State& state) {
    const HarnessApi& api = instrumented();
    for (auto _ : state) {
        api.kiv_nr_registered_functions("959");
        register_all(api);  // a host closes a registry with its index tables
        const auto start = Clock::now();
        api.kiv_close_harness();
        state.SetIterationTime(seconds_since(start));
    }
}

void get_output_int(benchmark::State& state) {
    const HarnessApi& api = instrumented();
    register_all(api);
    for (auto _ : state) {
        int64_t sum = 0;
        for (int i = 0; i < kGoalCount; ++i)
            sum += api.kiv_dll_get_output_int(i);
        benchmark::DoNotOptimize(sum);
    }
}

// The same goal every call: what a sweep over all goals would cost if every
// read went where it went last time.
void get_output_int_one_goal(benchmark::State& state) {
    const HarnessApi& api = instrumented();
    register_all(api);
    for (auto _ : state) {
        int64_t sum = 0;
        for (int i = 0; i < kGoalCount; ++i)
            sum += api.kiv_dll_get_output_int(7);
        benchmark::DoNotOptimize(sum);
    }
}

// Values alternate so that every store changes the variable.
void set_input_int(benchmark::State& state) {
    const HarnessApi& api = instrumented();
    register_all(api);
    int64_t value = 0;
    for (auto _ : state) {
        for (int i = 0; i < kInputCount; ++i)
            api.kiv_dll_set_input_int(i, value);
        value ^= 1;
        benchmark::ClobberMemory();
    }
}

}  // namespace

void register_registry_benchmarks() {
    with_min(benchmark::RegisterBenchmark("registry/open", registry_open))
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    with_min(benchmark::RegisterBenchmark("registry/close", registry_close))
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    with_min(benchmark::RegisterBenchmark("access/get_output_int", get_output_int));
    with_min(benchmark::RegisterBenchmark("access/get_output_int_one_goal", get_output_int_one_goal));
    with_min(benchmark::RegisterBenchmark("access/set_input_int", set_input_int));

    summarize(
        SummaryLine("registry open (192 IDs, 2 tables)", "registry/open", 1, kivbench::Clock::real).time_at_most(1e6));
    summarize(SummaryLine("registry close", "registry/close", 1, kivbench::Clock::real));
    summarize(SummaryLine("kiv_dll_get_output_int, per call", "access/get_output_int", kGoalCount).time_at_most(5));
    summarize(SummaryLine("  the same goal every call, per call", "access/get_output_int_one_goal", kGoalCount));
    summarize(SummaryLine("kiv_dll_set_input_int, per call", "access/set_input_int", kInputCount).time_at_most(5));
}

}  // namespace kivbench
