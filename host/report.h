// What a run found, summarised per criterion, per goal and per case, and
// written as terminal text, JSON or JUnit XML.
#pragma once

#include "plan.h"
#include "run.h"
#include "target.h"

#include <ostream>
#include <string>
#include <vector>

namespace kiv {

struct Threshold {
    std::string criterion;  // a criterion name, or "total"
    double percent = 0;
};

// Parses "CRITERION=PERCENT" ("decision=90", "DC=90", "total=85.5").
Threshold parse_threshold(const std::string& text);

struct CoverageRow {
    std::string criterion;
    std::size_t reached = 0, total = 0;
    double percent() const { return total ? 100.0 * static_cast<double>(reached) / static_cast<double>(total) : 100.0; }
};

struct ThresholdResult {
    Threshold threshold;
    double actual = 0;
    bool met = false;
};

struct RunInfo {  // how the run was made, for the report's heading
    std::string library;
    Isolation isolation = Isolation::snapshot;
    int workers = 1;
    double step_timeout = 1;
};

struct Summary {
    std::vector<CoverageRow> criteria;  // in kCriteria order, only those with goals
    CoverageRow total;
    std::size_t passed = 0, failed = 0, crashed = 0, timed_out = 0;
    std::vector<ThresholdResult> thresholds;
    bool all_passed() const;  // no failed, crashed or timed-out case; every threshold met
};

class Report {
public:
    Report(const Target& target, const Plan& plan, const RunResult& result, RunInfo info,
           std::vector<Threshold> thresholds);

    const Summary& summary() const { return summary_; }
    int exit_code() const { return summary_.all_passed() ? 0 : 1; }

    void text(std::ostream& out, bool trace) const;
    void json(std::ostream& out) const;
    void junit(std::ostream& out) const;

private:
    std::string goal_label(std::size_t g) const;
    std::string step_where(int64_t c, int32_t step) const;
    std::string case_problem(std::size_t c) const;
    std::string criterion_of(std::size_t g) const;

    const Target& target_;
    const Plan& plan_;
    const RunResult& result_;
    RunInfo info_;
    Summary summary_;
};

}  // namespace kiv
