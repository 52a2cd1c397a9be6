// Summary table of a benchmark run, on the console and as JSON.
#include "summary.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kivbench {

namespace {

std::vector<SummaryLine>& lines() {
    static std::vector<SummaryLine> all;
    return all;
}

double to_ns(double value, benchmark::TimeUnit unit) {
    return value * 1e9 / benchmark::GetTimeUnitMultiplier(unit);
}

std::string format_time(double ns) {
    char text[32];
    if (ns < 1e3)
        std::snprintf(text, sizeof text, "%.1f ns", ns);
    else if (ns < 1e6)
        std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
    else
        std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    return text;
}

std::string format_number(const char* format, double value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

struct Verdict {
    std::string figure;  // ratio or rate, whichever the line is about
    std::string target;
    bool checked = false, met = true;
};

Verdict judge(const SummaryLine& line, double ns, double ratio) {
    Verdict v;
    if (!std::isnan(ratio)) v.figure = format_number("%.2fx", ratio);
    switch (line.check) {
        case Check::none:
            break;
        case Check::ratio_at_most:
            v.checked = true;
            v.met = ratio <= line.limit;
            v.target = format_number("<= %.0fx", line.limit);
            break;
        case Check::ns_at_most:
            v.checked = true;
            v.met = ns <= line.limit;
            v.target = "<= " + format_time(line.limit);
            break;
        case Check::cases_per_worker_at_least: {
            const double rate = 1e9 / ns / line.workers;
            v.checked = true;
            v.met = rate >= line.limit;
            v.figure = format_number("%.0f/s/worker", rate);
            v.target = format_number(">= %.0f/s/worker", line.limit);
            break;
        }
    }
    return v;
}

std::string json_escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

void summarize(const SummaryLine& line) {
    lines().push_back(line);
}

benchmark::internal::Benchmark* with_min(benchmark::internal::Benchmark* b) {
    return b->ComputeStatistics("min",
                                [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
    std::vector<Run> shown;
    for (const Run& run : runs) {
        if (run.error_occurred) {
            shown.push_back(run);
            continue;
        }
        if (run.run_type == Run::RT_Aggregate) {
            if (run.aggregate_name == "min") shown.push_back(run);
            continue;
        }
        if (run.repetitions <= 1) shown.push_back(run);
        const double cpu = to_ns(run.GetAdjustedCPUTime(), run.time_unit);
        const double real = to_ns(run.GetAdjustedRealTime(), run.time_unit);
        Best& b = best_[run.run_name.function_name];
        b.cpu_ns = b.seen ? std::min(b.cpu_ns, cpu) : cpu;
        b.real_ns = b.seen ? std::min(b.real_ns, real) : real;
        b.seen = true;
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
}

bool SummaryReporter::finish(const std::string& json_path) {
    auto per_op = [this](const std::string& name, const SummaryLine& line) {
        const auto it = best_.find(name);
        if (it == best_.end()) return std::nan("");
        return (line.clock == Clock::cpu ? it->second.cpu_ns : it->second.real_ns) / line.ops;
    };
    std::map<std::string, double> figure;  // by line key
    for (const SummaryLine& line : lines())
        figure[line.key] = per_op(line.benchmark, line) - (line.minus.empty() ? 0.0 : per_op(line.minus, line));

    std::FILE* json = json_path.empty() ? nullptr : std::fopen(json_path.c_str(), "w");
    std::printf("\n%-48s %10s %16s  %-20s\n", "summary (fastest of the repetitions)", "time/op", "ratio or rate",
                "target");
    bool all_met = true;
    const char* separator = "[\n";
    for (const SummaryLine& line : lines()) {
        const double ns = figure[line.key];
        if (std::isnan(ns)) continue;  // filtered out of this run
        const auto versus = figure.find(line.versus);
        const double ratio = versus == figure.end() ? std::nan("") : ns / versus->second;
        const Verdict v = judge(line, ns, ratio);
        all_met = all_met && v.met;
        std::printf("%-48s %10s %16s  %-20s %s\n", line.label.c_str(), format_time(ns).c_str(), v.figure.c_str(),
                    v.target.c_str(), v.checked ? (v.met ? "met" : "MISSED") : "");
        if (json == nullptr) continue;
        std::fprintf(json, "%s  {\"name\": \"%s\", \"key\": \"%s\", \"benchmark\": \"%s\", \"ns_per_op\": %.3f",
                     separator, json_escape(line.label).c_str(), json_escape(line.key).c_str(),
                     json_escape(line.benchmark).c_str(), ns);
        if (!line.minus.empty()) std::fprintf(json, ", \"less\": \"%s\"", json_escape(line.minus).c_str());
        if (!std::isnan(ratio))
            std::fprintf(json, ", \"ratio\": %.4f, \"versus\": \"%s\"", ratio, json_escape(line.versus).c_str());
        if (v.checked)
            std::fprintf(json, ", \"figure\": \"%s\", \"target\": \"%s\", \"met\": %s", v.figure.c_str(),
                         json_escape(v.target).c_str(), v.met ? "true" : "false");
        std::fprintf(json, "}");
        separator = ",\n";
    }
    if (json != nullptr) {
        std::fprintf(json, "%s]\n", separator[0] == '[' ? "[" : "\n");
        std::fclose(json);
    }
    return all_met;
}

int run_benchmarks(int argc, char** argv) {
    std::string summary_out;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--kiv_summary_out=", 18) == 0)
            summary_out = argv[i] + 18;
        else
            rest.push_back(argv[i]);
    }
    int rest_argc = static_cast<int>(rest.size());
    benchmark::Initialize(&rest_argc, rest.data());
    if (benchmark::ReportUnrecognizedArguments(rest_argc, rest.data())) return 2;
    SummaryReporter reporter(isatty(STDOUT_FILENO) != 0);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    // A missed target is a finding to report, not a failure of the run.
    reporter.finish(summary_out);
    return 0;
}

}  // namespace kivbench
