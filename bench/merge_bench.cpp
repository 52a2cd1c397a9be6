// kiv_merge_bench: merging the results of a sharded run, 64 shards of
// 10,000 ten-step cases each, read from their JSON files, merged and written
// as one, as `kivrun merge` does; and the three parts alone. A program of its
// own: the hundreds of megabytes it reads stay with the process, and would
// make every fork of kiv_bench's host benchmarks slower.
#include "summary.h"

#include "kivrun.h"
#include "compare/merge.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kivbench {

namespace {

constexpr int kShards = 64;
constexpr int kCasesPerShard = 10000;
constexpr int kSteps = 10;

// One shard's result as a run writes it: every case passed with 40 checks,
// and a shard reaches each goal of the catalog with one of its cases.
kiv::Result shard_result(const kiv::Catalog& catalog, int shard) {
    kiv::Result r;
    r.run.library = "build/libdllharness.so";
    r.run.library_id = "build-id:0123456789abcdef0123456789abcdef01234567";
    r.run.catalog = "build/libdllharness.catalog.json";
    r.run.catalog_id = "sha256:" + std::string(64, 'a');
    r.run.suites = {"suites/heater_a.csv", "suites/heater_b.csv", "suites/heater_c.csv", "suites/heater_d.csv"};
    r.run.started = "2026-12-07T23:00:00Z";
    r.run.seconds = 0.05;
    r.run.shard_index = shard, r.run.shard_count = kShards;
    r.cases.reserve(kCasesPerShard);
    for (int c = 0; c < kCasesPerShard; ++c) {
        const int n = c * kShards + shard;  // as a hash spreads them: every shard has cases of every suite
        kiv::CaseResult cr;
        cr.suite = r.run.suites[static_cast<std::size_t>(n % 4)];
        cr.name = "heater_case_" + std::to_string(n);
        cr.line = 2 + (n / 4) * kSteps;
        for (int s = 0; s < kSteps; ++s)
            cr.step_lines.push_back(cr.line + s);
        cr.checks = 4 * kSteps;
        cr.verdict = kiv::Verdict::passed;
        cr.seconds = 2.2e-6;
        r.cases.push_back(std::move(cr));
    }
    for (std::size_t g = 0; g < catalog.goals.size(); ++g) {
        const kiv::CatalogGoal& cg = catalog.goals[g];
        kiv::GoalResult gr;
        gr.id = cg.id, gr.goal = cg.goal, gr.criterion = cg.criterion, gr.kind = cg.kind, gr.record = cg.record;
        gr.field = cg.field, gr.function = cg.function, gr.meaning = cg.meaning, gr.file = cg.file;
        gr.line = cg.line, gr.column = cg.column, gr.decision = cg.decision;
        gr.first_case = static_cast<int64_t>((g * 37 + static_cast<std::size_t>(shard)) % kCasesPerShard);
        gr.first_step = 1 + static_cast<int32_t>(g % kSteps);
        r.goals.push_back(std::move(gr));
    }
    return r;
}

class MergeFixture {
public:
    MergeFixture() {
        char dir_template[] = "/tmp/kiv_merge_bench_XXXXXX";
        if (mkdtemp(dir_template) == nullptr) throw kiv::Error("cannot make a temporary directory");
        dir_ = dir_template;
        const kiv::Catalog catalog = kiv::load_catalog(KIV_CATALOG_PATH);
        for (int k = 0; k < kShards; ++k) {
            paths_.push_back((dir_ / ("shard" + std::to_string(k) + ".json")).string());
            kiv::write_report_file(paths_.back(), [&](std::ostream& out) {
                const kiv::Result r = shard_result(catalog, k);
                kiv::write_json(r, kiv::summarize(r), out);
            });
            bytes_ += std::filesystem::file_size(paths_.back());
        }
        merged_path_ = (dir_ / "merged.json").string();
    }
    ~MergeFixture() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::vector<std::string>& paths() const { return paths_; }
    const std::string& merged_path() const { return merged_path_; }
    std::uintmax_t bytes() const { return bytes_; }

private:
    std::filesystem::path dir_;
    std::vector<std::string> paths_;
    std::string merged_path_;
    std::uintmax_t bytes_ = 0;
};

const MergeFixture& fixture() {
    static const MergeFixture f;
    return f;
}

using Steady = std::chrono::steady_clock;

double seconds_since(Steady::time_point t) {
    return std::chrono::duration<double>(Steady::now() - t).count();
}

void write_merged(const kiv::Result& merged) {
    kiv::write_report_file(fixture().merged_path(), [&](std::ostream& out) { kiv::write_json(merged, kiv::summarize(merged), out); });
}

// What `kivrun merge` does, end to end.
void merge_end_to_end(benchmark::State& state) {
    const MergeFixture& f = fixture();
    for (auto _ : state) {
        const auto start = Steady::now();
        const kiv::Result merged = kiv::merge_files(f.paths());
        write_merged(merged);
        state.SetIterationTime(seconds_since(start));
        // Freed outside the time: the command leaves the merged result to its exit.
    }
    state.counters["input_MB"] = static_cast<double>(f.bytes()) / 1e6;
    state.counters["merged_MB"] = static_cast<double>(std::filesystem::file_size(f.merged_path())) / 1e6;
}

void read_all(benchmark::State& state) {
    const MergeFixture& f = fixture();
    for (auto _ : state) {
        const auto start = Steady::now();
        for (const auto& p : f.paths())
            benchmark::DoNotOptimize(kiv::read_json_file(p));
        state.SetIterationTime(seconds_since(start));
    }
}

void merge_only(benchmark::State& state) {
    const MergeFixture& f = fixture();
    std::vector<kiv::NamedResult> loaded;
    for (const auto& p : f.paths())
        loaded.push_back({p, kiv::read_json_file(p)});
    for (auto _ : state) {
        auto copy = loaded;
        const auto start = Steady::now();
        benchmark::DoNotOptimize(kiv::merge_results(std::move(copy)));
        state.SetIterationTime(seconds_since(start));
    }
}

void write_only(benchmark::State& state) {
    const kiv::Result merged = kiv::merge_files(fixture().paths());
    for (auto _ : state) {
        const auto start = Steady::now();
        write_merged(merged);
        state.SetIterationTime(seconds_since(start));
    }
}

}  // namespace

void register_merge_benchmarks() {
    const std::string base = "merge/" + std::to_string(kShards) + "x" + std::to_string(kCasesPerShard);
    const struct {
        const char* part;
        void (*fn)(benchmark::State&);
        const char* label;
    } parts[] = {{"", merge_end_to_end, "kivrun merge, 64 results of 10,000 cases"},
                 {"/read", read_all, "  reading the 64 results"},
                 {"/merge", merge_only, "  merging them in memory"},
                 {"/write", write_only, "  writing the merged result"}};
    for (const auto& p : parts) {
        const std::string name = base + p.part;
        with_min(benchmark::RegisterBenchmark(name.c_str(), p.fn))
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        SummaryLine line(p.label, name, 1, Clock::real);
        if (*p.part == '\0') line.time_at_most(1e9);
        summarize(line);
    }
}

}  // namespace kivbench

int main(int argc, char** argv) {
    kivbench::register_merge_benchmarks();
    return kivbench::run_benchmarks(argc, argv);
}
