// The summary of a benchmark run: one line per figure that matters, its time
// per operation, its ratio to a reference and the target it is held to.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kivbench {

enum class Clock { cpu, real };  // which time a benchmark is judged by
enum class Check { none, ratio_at_most, ns_at_most, cases_per_worker_at_least };

// A line's figure is the benchmark's time per operation, less that of a second
// benchmark when one is given (the part of an operation that a host cannot
// avoid measuring with it). Its ratio divides it by the figure of another line.
struct SummaryLine {
    SummaryLine(std::string label_, std::string benchmark_, double ops_ = 1, Clock clock_ = Clock::cpu)
        : label(std::move(label_)), benchmark(std::move(benchmark_)), key(benchmark), ops(ops_), clock(clock_) {}
    SummaryLine& named(std::string k) { return key = std::move(k), *this; }
    SummaryLine& less(std::string other) { return minus = std::move(other), *this; }
    SummaryLine& compared_to(std::string line_key) { return versus = std::move(line_key), *this; }
    SummaryLine& ratio_at_most(double x) { return set(Check::ratio_at_most, x); }
    SummaryLine& time_at_most(double ns) { return set(Check::ns_at_most, ns); }
    SummaryLine& cases_per_worker_at_least(double rate, int n) {
        return workers = n, set(Check::cases_per_worker_at_least, rate);
    }

    std::string label;
    std::string benchmark;  // name it was registered under
    std::string key;        // how other lines refer to this one; the benchmark name unless named
    double ops;             // operations per benchmark iteration
    Clock clock;
    std::string minus;   // benchmark (same ops and clock) subtracted, or empty
    std::string versus;  // key of the line whose figure divides ours, or empty
    Check check = Check::none;
    double limit = 0;
    int workers = 1;  // for rates: cases per second are divided by this

private:
    SummaryLine& set(Check c, double l) { return check = c, limit = l, *this; }
};

// Adds a line to the summary, in the order the lines are printed.
void summarize(const SummaryLine& line);

// Forwards to the console only the fastest repetition of each benchmark (its
// "min" aggregate) and keeps every repetition's time per iteration, so that the
// summary is built from the least disturbed run on a busy machine.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    explicit SummaryReporter(bool color) : ConsoleReporter(color ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override;

    // Prints the table and, if json_path is not empty, writes it there too.
    // Returns false when a target is missed.
    bool finish(const std::string& json_path);

private:
    struct Best {
        double cpu_ns = 0, real_ns = 0;  // per iteration
        bool seen = false;
    };
    std::map<std::string, Best> best_;
};

// The benchmarks registered so far, run with a SummaryReporter; takes
// --kiv_summary_out=<file> before Google Benchmark's own options.
int run_benchmarks(int argc, char** argv);

// Registers "min" as a statistic of a benchmark; its JSON then carries it.
benchmark::internal::Benchmark* with_min(benchmark::internal::Benchmark* b);

}  // namespace kivbench
