// kiv_kivinst_bench: what instrumenting costs, kivinst on both plain units
// of the seat heater, parsing and header reading included, as a build runs
// it. A program of its own: the compiler libraries it loads would make every
// fork in kiv_bench's host benchmarks copy their relocated data.
#include <benchmark/benchmark.h>

#include "instrument.h"
#include "summary.h"

namespace {

void instrument_both_units(benchmark::State& state) {
    const std::pair<const char*, int> units[] = {{"Wrapper_seat_heating_control", 16}, {"seat_heating_control", 18}};
    for (auto _ : state) {
        for (const auto& [name, number] : units) {
            kivinst::Options options;
            options.unit = number;
            options.source = std::string(KIV_UNITS_DIR) + "/" + name + ".c";
            options.records_include = std::string(name) + "_records.def";
            options.compiler_args = {"-I" KIV_UNITS_DIR};
            kivinst::Output out;
            if (!kivinst::instrument(options, out)) {
                state.SkipWithError("a plain unit does not parse");
                return;
            }
            benchmark::DoNotOptimize(out.source.data());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    kivbench::with_min(benchmark::RegisterBenchmark("kivinst/both_units", instrument_both_units))
        ->Unit(benchmark::kMillisecond);
    // Held to a second for both units, parse included.
    kivbench::summarize(kivbench::SummaryLine("kivinst, both units", "kivinst/both_units", 1, kivbench::Clock::real)
                            .time_at_most(1e9));
    return kivbench::run_benchmarks(argc, argv);
}
