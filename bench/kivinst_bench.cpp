// kiv_kivinst_bench: what instrumenting costs, kivinst on both plain units
// of the seat heater, parsing and header reading included, as a build runs
// it. A program of its own: the compiler libraries it loads would make every
// fork in kiv_bench's host benchmarks copy their relocated data.
#include <benchmark/benchmark.h>

#include "harness/command.h"
#include "instrument.h"
#include "summary.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

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

// kivinst harness on a unit, everything but the compilation: the analysis,
// instrumentation, proof (unless args cut its budget short) and every file of
// the unit set. Its listing of the inputs goes to /dev/null.
void harness_unit(benchmark::State& state, std::vector<std::string> args) {
    char dir[] = "/tmp/kiv_harness_benchXXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    // Its own ID map: a map beside a unit file would be the source tree's.
    args.insert(args.begin(), {"harness", "--no-build", "-o", std::string(dir) + "/out", "--map", std::string(dir) + "/map.json"});
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int saved = dup(STDOUT_FILENO), null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    int rc = 0;
    for (auto _ : state)
        rc |= kivinst::harness::command(static_cast<int>(args.size()), argv.data());
    dup2(saved, STDOUT_FILENO);
    close(saved), close(null);
    if (rc != 0) state.SkipWithError("kivinst harness failed");
    std::system(("rm -rf " + std::string(dir)).c_str());
}

// Instrumenting with the behaviour prover on (the harness's scopes as its
// entries) against without: the difference is what proving costs.
void prove_unit(benchmark::State& state, const char* name, std::vector<std::string> entries) {
    for (auto _ : state) {
        kivinst::Options options;
        options.unit = 1;
        options.source = std::string(KIV_UNITS_DIR) + "/" + name + ".c";
        options.records_include = std::string(name) + "_records.def";
        options.compiler_args = {"-I" KIV_UNITS_DIR};
        options.prove.entries = entries;
        kivinst::Output out;
        if (!kivinst::instrument(options, out) || (!entries.empty() && !out.proof.complete)) {
            state.SkipWithError("the unit does not parse, or the proof did not end");
            return;
        }
        benchmark::DoNotOptimize(out.records.data());
    }
}

}  // namespace

int main(int argc, char** argv) {
    kivbench::with_min(benchmark::RegisterBenchmark("kivinst/both_units", instrument_both_units))
        ->Unit(benchmark::kMillisecond);
    // Held to a second for both units, parse included.
    kivbench::summarize(kivbench::SummaryLine("kivinst, both units", "kivinst/both_units", 1, kivbench::Clock::real)
                            .time_at_most(1e9));
    const std::string units = KIV_UNITS_DIR;
    // The proof's budget cut to a millisecond: what the harness costs without it.
    kivbench::with_min(benchmark::RegisterBenchmark("kivinst/harness_window_lifter", harness_unit,
                                                    std::vector<std::string>{"--prove-seconds", "0.001",
                                                                             units + "/window_lifter.c"}))
        ->Unit(benchmark::kMillisecond);
    // The unit set of a ~300-line unit in under a second, compilation and proof aside.
    kivbench::summarize(kivbench::SummaryLine("kivinst harness --no-build, window lifter",
                                              "kivinst/harness_window_lifter", 1, kivbench::Clock::real)
                            .time_at_most(1e9));
    // The seat heater's goals proven, both sources, parse and unit set included, inside 5 s.
    kivbench::with_min(benchmark::RegisterBenchmark(
                           "kivinst/harness_seat_heater_proven", harness_unit,
                           std::vector<std::string>{"--unit", units + "/seat_heater.unit.json",
                                                    units + "/Wrapper_seat_heating_control.c",
                                                    units + "/seat_heating_control.c"}))
        ->Unit(benchmark::kMillisecond);
    kivbench::summarize(kivbench::SummaryLine("kivinst harness --no-build, seat heater proven",
                                              "kivinst/harness_seat_heater_proven", 1, kivbench::Clock::real)
                            .time_at_most(5e9));
    const std::vector<std::string> wl = {"window_lifter_step", "window_lifter_reset"};
    for (const auto& [label, entries] : {std::pair<const char*, std::vector<std::string>>{"window_lifter_proven", wl},
                                         {"window_lifter_plain", {}}})
        kivbench::with_min(benchmark::RegisterBenchmark((std::string("kivinst/") + label).c_str(), prove_unit,
                                                        "window_lifter", entries))
            ->Unit(benchmark::kMillisecond);
    // Every goal of the window lifter decided, parse included, well inside 30 s.
    kivbench::summarize(kivbench::SummaryLine("kivinst, window lifter proven", "kivinst/window_lifter_proven", 1,
                                              kivbench::Clock::real)
                            .time_at_most(30e9));
    return kivbench::run_benchmarks(argc, argv);
}
