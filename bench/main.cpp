// kiv_bench: what a step, a probe, the registry and a test case cost. Prints
// the benchmarks' fastest repetitions, then a summary table with ratios and
// targets. Extra options, taken before Google Benchmark's own:
//   --kiv_summary_out=<file>  write the summary table as JSON
//   --kiv_count=<mode>        run a fixed number of steps and exit (for callgrind)
#include "benchmarks.h"
#include "summary.h"

#include <benchmark/benchmark.h>

#include <cstring>

int main(int argc, char** argv) {
    for (int i = 0; i < argc; ++i)
        if (std::strncmp(argv[i], "--kiv_count=", 12) == 0) return kivbench::run_count_mode(argv[i] + 12);
    kivbench::register_step_benchmarks();
    kivbench::register_registry_benchmarks();
    kivbench::register_host_benchmarks();
    return kivbench::run_benchmarks(argc, argv);
}
