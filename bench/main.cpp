// kiv_bench: what a step, a probe, the registry and a test case cost. Prints
// the benchmarks' fastest repetitions, then a summary table with ratios and
// targets. Extra options, taken before Google Benchmark's own:
//   --kiv_summary_out=<file>  write the summary table as JSON
//   --kiv_count=<mode>        run a fixed number of steps and exit (for callgrind)
#include "benchmarks.h"
#include "summary.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <unistd.h>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::string summary_out;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--kiv_count=", 12) == 0) return kivbench::run_count_mode(argv[i] + 12);
        if (std::strncmp(argv[i], "--kiv_summary_out=", 18) == 0)
            summary_out = argv[i] + 18;
        else
            rest.push_back(argv[i]);
    }
    int rest_argc = static_cast<int>(rest.size());

    kivbench::register_step_benchmarks();
    kivbench::register_registry_benchmarks();
    kivbench::register_host_benchmarks();
    kivbench::register_merge_benchmarks();

    benchmark::Initialize(&rest_argc, rest.data());
    if (benchmark::ReportUnrecognizedArguments(rest_argc, rest.data())) return 2;
    kivbench::SummaryReporter reporter(isatty(STDOUT_FILENO) != 0);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    // A missed target is a finding to report, not a failure of the run.
    reporter.finish(summary_out);
    return 0;
}
