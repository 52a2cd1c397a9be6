// kiv_generate_bench: how fast `kivrun generate` reaches every reachable goal
// of the library, over 20 seeds, through the same path as the command (the
// search in one forked worker, then minimisation), and how small the suite is.
//   kiv_generate_bench [--json FILE]
#include "kivrun.h"
#include "generate/supervise.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSeeds = 20;
// Targets on the project's 2-core machine.
constexpr double kMedianExecutions = 5000, kMedianSeconds = 0.05, kWorstSeconds = 0.2, kSuiteSteps = 40;

struct Row {
    uint64_t seed, executions;
    double to_last_goal, total;
    std::size_t reached, cases, steps;
};

template <class T>
T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

}  // namespace

int main(int argc, char** argv) {
    std::string json_out;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--json") == 0) json_out = argv[i + 1];
    kiv::Target target(KIV_LIBRARY_PATH, std::string(KIV_CATALOG_PATH));
    const auto justified =
        kiv::load_justifications({std::string(KIV_SOURCE_DIR) + "/examples/seat_heater.justify.csv"}, target.schema());
    kiv::gen::Runner runner(target, target.catalog().constants);
    kiv::gen::GenerateOptions o;
    o.wanted.assign(target.schema().goals.size(), 1);
    for (const auto& j : justified)
        o.wanted[j.goal] = 0;
    const auto reachable = static_cast<std::size_t>(std::count(o.wanted.begin(), o.wanted.end(), 1));

    std::vector<Row> rows;
    std::printf("kivrun generate, %zu reachable goals, one worker\n%6s %11s %14s %10s %8s %6s %6s\n", reachable,
                "seed", "executions", "to last goal", "total", "reached", "cases", "steps");
    for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
        o.seed = seed;
        const kiv::gen::Generated g = kiv::gen::generate(runner, o);
        Row r{seed, g.progress.executions, g.progress.seconds_to_last_goal, g.seconds, g.progress.reached,
              g.suite.size(), 0};
        for (const auto& c : g.suite)
            r.steps += c.steps.size();
        rows.push_back(r);
        std::printf("%6llu %11llu %12.4f s %8.4f s %8zu %6zu %6zu\n", static_cast<unsigned long long>(seed),
                    static_cast<unsigned long long>(r.executions), r.to_last_goal, r.total, r.reached, r.cases,
                    r.steps);
    }
    std::vector<uint64_t> execs;
    std::vector<double> secs;
    std::vector<std::size_t> steps;
    bool all = true;
    for (const auto& r : rows) {
        execs.push_back(r.executions);
        secs.push_back(r.to_last_goal);
        steps.push_back(r.steps);
        all = all && r.reached >= reachable;
    }
    const uint64_t med_e = median(execs), worst_e = *std::max_element(execs.begin(), execs.end());
    const double med_s = median(secs), worst_s = *std::max_element(secs.begin(), secs.end());
    const std::size_t med_steps = median(steps), worst_steps = *std::max_element(steps.begin(), steps.end());
    std::printf("\nall %zu reached on every seed: %s\n", reachable, verdict(all));
    std::printf("executions to the last goal: median %llu (target < %.0f: %s), worst %llu\n",
                static_cast<unsigned long long>(med_e), kMedianExecutions, verdict(med_e < kMedianExecutions),
                static_cast<unsigned long long>(worst_e));
    std::printf("seconds to the last goal: median %.4f (target < %.2f: %s), worst %.4f (target < %.1f: %s)\n", med_s,
                kMedianSeconds, verdict(med_s < kMedianSeconds), worst_s, kWorstSeconds,
                verdict(worst_s < kWorstSeconds));
    std::printf("minimised suite, steps: median %zu, worst %zu (target < %.0f: %s)\n", med_steps, worst_steps,
                kSuiteSteps, verdict(worst_steps < kSuiteSteps));
    if (!json_out.empty()) {
        std::ofstream f(json_out);
        f << "{\"seeds\": " << kSeeds << ", \"executions_median\": " << med_e << ", \"executions_worst\": " << worst_e
          << ", \"seconds_median\": " << med_s << ", \"seconds_worst\": " << worst_s
          << ", \"suite_steps_median\": " << med_steps << ", \"suite_steps_worst\": " << worst_steps
          << ", \"all_reached\": " << (all ? "true" : "false") << "}\n";
    }
    return 0;
}
