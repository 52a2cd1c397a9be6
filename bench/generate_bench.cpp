// kiv_generate_bench: how fast `kivrun generate` reaches every reachable goal
// of each unit, over 20 seeds, through the same path as the command (the
// search in one forked worker, then minimisation), and how small the suite is.
//   kiv_generate_bench [--json FILE] [--unit NAME]
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

// A unit, its library and catalog, the goals no input can reach (with the
// reasons), and targets on the project's 2-core machine.
struct Unit {
    const char* name;
    const char* library;
    const char* catalog;
    const char* justify;  // relative to the source folder
    double median_executions;
    double median_seconds, worst_seconds;
    std::size_t suite_steps;
};

const Unit kUnits[] = {
    {"seat_heater", KIV_LIBRARY_PATH, KIV_CATALOG_PATH, "examples/seat_heater.justify.csv", 1400, 0.05, 0.2, 40},
#ifdef KIV_DEBOUNCE_LIBRARY
    {"debounce", KIV_DEBOUNCE_LIBRARY, KIV_DEBOUNCE_CATALOG, "examples/debounce.justify.csv", 20000, 1, 5, 60},
#endif
#ifdef KIV_WINDOW_LIFTER_LIBRARY
    // Its saturating 8-bit counters take cases of 256 steps: the suite's
    // floor is a few such cases and the pinch and stall sequences.
    {"window_lifter", KIV_WINDOW_LIFTER_LIBRARY, KIV_WINDOW_LIFTER_CATALOG, "examples/window_lifter.justify.csv", 50000,
     5, 30, 2000},
#endif
};

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

// Runs the 20 seeds on one unit, prints its table and verdicts; its JSON object.
std::string bench(const Unit& u) {
    kiv::Target target(u.library, std::string(u.catalog));
    const auto justified =
        kiv::load_justifications({std::string(KIV_SOURCE_DIR) + "/" + u.justify}, target.schema());
    kiv::gen::Runner runner(target, target.catalog().constants);
    kiv::gen::GenerateOptions o;
    o.wanted.assign(target.schema().goals.size(), 1);
    for (const auto& j : justified)
        o.wanted[j.goal] = 0;
    const auto reachable = static_cast<std::size_t>(std::count(o.wanted.begin(), o.wanted.end(), 1));

    std::vector<Row> rows;
    std::printf("kivrun generate on %s, %zu reachable goals, one worker\n%6s %11s %14s %10s %8s %6s %6s\n", u.name,
                reachable, "seed", "executions", "to last goal", "total", "reached", "cases", "steps");
    for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
        o.seed = seed;
        const kiv::gen::Generated g = kiv::gen::generate(runner, o);
        std::size_t reached = 0;
        for (std::size_t i = 0; i < o.wanted.size(); ++i)
            for (const auto& c : g.suite)
                if (o.wanted[i] && c.seen.reached[i]) {
                    ++reached;
                    break;
                }
        Row r{seed, g.progress.executions, g.progress.seconds_to_last_goal, g.seconds, reached, g.suite.size(), 0};
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
    std::printf("\n%s: all %zu reached on every seed: %s\n", u.name, reachable, verdict(all));
    std::printf("executions to the last goal: median %llu (target <= %.0f: %s), worst %llu\n",
                static_cast<unsigned long long>(med_e), u.median_executions, verdict(med_e <= u.median_executions),
                static_cast<unsigned long long>(worst_e));
    std::printf("seconds to the last goal: median %.4f (target < %.2f: %s), worst %.4f (target < %.1f: %s)\n", med_s,
                u.median_seconds, verdict(med_s < u.median_seconds), worst_s, u.worst_seconds,
                verdict(worst_s < u.worst_seconds));
    std::printf("minimised suite, steps: median %zu, worst %zu (target < %zu: %s)\n\n", med_steps, worst_steps,
                u.suite_steps, verdict(worst_steps < u.suite_steps));
    return std::string("\"") + u.name + "\": {\"seeds\": " + std::to_string(kSeeds) +
           ", \"reachable\": " + std::to_string(reachable) + ", \"executions_median\": " + std::to_string(med_e) +
           ", \"executions_worst\": " + std::to_string(worst_e) +
           ", \"executions_target\": " + std::to_string(static_cast<uint64_t>(u.median_executions)) +
           ", \"seconds_median\": " + std::to_string(med_s) + ", \"seconds_worst\": " + std::to_string(worst_s) +
           ", \"suite_steps_median\": " + std::to_string(med_steps) +
           ", \"suite_steps_worst\": " + std::to_string(worst_steps) + ", \"all_reached\": " + (all ? "true" : "false") +
           "}";
}

}  // namespace

int main(int argc, char** argv) {
    std::string json_out, only;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) json_out = argv[i + 1];
        if (std::strcmp(argv[i], "--unit") == 0) only = argv[i + 1];
    }
    std::string json;
    for (const Unit& u : kUnits) {
        if (!only.empty() && only != u.name) continue;
        json += (json.empty() ? "" : ", ") + bench(u);
    }
    if (!json_out.empty()) std::ofstream(json_out) << "{" << json << "}\n";
    return 0;
}
