// Step cost per scope through the exported interface, instrumented and with
// the probes compiled out, and the goal evaluation on its own.
#include "benchmarks.h"
#include "step_drive.h"
#include "summary.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace kivbench {

namespace {

// Both builds sit behind dlsym'd function pointers, so the optimiser sees no
// step it could drop; the barrier keeps the loop's own stores in place too.
void step_benchmark(benchmark::State& state, const HarnessApi& (*build)(), int32_t uid) {
    const HarnessApi& api = build();
    const ScopeDrive& drive = scope_drive(uid);
    prepare_scope(api, drive);
    uint32_t k = 1;
    for (auto _ : state) {
        host_step(api, drive, k++);
        benchmark::ClobberMemory();
    }
}

// What a host step costs besides kiv_dll_step: the same input writes alone.
void inputs_benchmark(benchmark::State& state, const HarnessApi& (*build)(), int32_t uid) {
    const HarnessApi& api = build();
    const ScopeDrive& drive = scope_drive(uid);
    prepare_scope(api, drive);
    uint32_t k = 1;
    for (auto _ : state) {
        write_inputs(api, drive, k++);
        benchmark::ClobberMemory();
    }
}

// The exception entry runs the goal evaluation and nothing else.
void goal_evaluation(benchmark::State& state) {
    const HarnessApi& api = instrumented();
    prepare_scope(api, scope_drive(955));
    for (auto _ : state) {
        api.kiv_dll_exception();
        benchmark::ClobberMemory();
    }
}

std::string step_name(int32_t uid, const char* build) {
    return "step/" + std::to_string(uid) + "/" + build;
}

}  // namespace

void register_step_benchmarks() {
    for (const ScopeDrive& d : kScopeDrives) {
        const std::string bare = step_name(d.uid, "noprobe"), probed = step_name(d.uid, "probes");
        with_min(benchmark::RegisterBenchmark(bare.c_str(), step_benchmark, &uninstrumented, d.uid));
        with_min(benchmark::RegisterBenchmark(probed.c_str(), step_benchmark, &instrumented, d.uid));
        const std::string label = "host step " + std::to_string(d.uid) + " " + d.name;
        summarize(SummaryLine(label + ", probes compiled out", bare));
        summarize(SummaryLine(label + ", instrumented", probed).compared_to(bare));
    }

    // The wrapper step is held to a bound: kiv_dll_step alone, so the input
    // writes both builds share are taken out of both.
    const std::string bare_inputs = "inputs/955/noprobe", probed_inputs = "inputs/955/probes";
    with_min(benchmark::RegisterBenchmark(bare_inputs.c_str(), inputs_benchmark, &uninstrumented, 955));
    with_min(benchmark::RegisterBenchmark(probed_inputs.c_str(), inputs_benchmark, &instrumented, 955));
    summarize(SummaryLine("  of which input writes (3 set calls)", probed_inputs));
    summarize(SummaryLine("kiv_dll_step 955 alone, probes compiled out", step_name(955, "noprobe"))
                  .named("kiv_dll_step/955/noprobe")
                  .less(bare_inputs));
    summarize(SummaryLine("kiv_dll_step 955 alone, instrumented", step_name(955, "probes"))
                  .named("kiv_dll_step/955/probes")
                  .less(probed_inputs)
                  .compared_to("kiv_dll_step/955/noprobe")
                  .ratio_at_most(6));

    with_min(benchmark::RegisterBenchmark("goals/evaluate", goal_evaluation));
    summarize(SummaryLine("goal evaluation alone (share of the step above)", "goals/evaluate")
                  .compared_to("kiv_dll_step/955/probes"));
}

// "<probes|noprobe>:<scope uid|exception>:<steps>": prepares as the benchmarks
// do, then runs that many steps (or exception entries) and nothing else, so
// that instruction counts of two runs with different step counts divide.
int run_count_mode(const char* mode) {
    char build[16] = {}, what[16] = {};
    unsigned long steps = 0;
    if (std::sscanf(mode, "%15[^:]:%15[^:]:%lu", build, what, &steps) != 3) {
        std::fprintf(stderr, "--kiv_count=<probes|noprobe|generated>:<scope|exception>:<steps>\n");
        return 2;
    }
    const HarnessApi* chosen = std::strcmp(build, "noprobe") == 0     ? &uninstrumented()
                               : std::strcmp(build, "generated") == 0 ? generated()
                                                                      : &instrumented();
    if (chosen == nullptr) {
        std::fprintf(stderr, "this build has no generated harness (tests are off)\n");
        return 2;
    }
    const HarnessApi& api = *chosen;
    const bool exception = std::strcmp(what, "exception") == 0;
    const ScopeDrive& drive = scope_drive(exception ? 955 : std::atoi(what));
    prepare_scope(api, drive);
    for (unsigned long k = 1; k <= steps; ++k) {
        if (exception)
            api.kiv_dll_exception();
        else
            host_step(api, drive, static_cast<uint32_t>(k));
    }
    return 0;
}

}  // namespace kivbench
