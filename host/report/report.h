// What a run found, summarised per criterion, per goal and per case, and
// written as terminal text, JSON or JUnit XML.
#pragma once

#include "justify.h"
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
    std::size_t reached = 0;
    std::size_t justified = 0;  // not reached, and justified as unreachable
    std::size_t total = 0;
    double percent() const { return share(reached); }
    // What evidence covers: reached or justified. Equals percent() when
    // nothing is justified.
    double covered_percent() const { return share(reached + justified); }

private:
    double share(std::size_t n) const {
        return total ? 100.0 * static_cast<double>(n) / static_cast<double>(total) : 100.0;
    }
};

struct ThresholdResult {
    Threshold threshold;
    double actual = 0;  // percent covered
    bool met = false;
};

// A goal justified as unreachable that a case reached: the justification is wrong.
struct Contradiction {
    std::size_t goal;           // into Schema::goals
    std::size_t justification;  // into Report::justifications()
};

struct RunInfo {  // how the run was made, for the report's heading
    std::string library;
    Isolation isolation = Isolation::snapshot;
    int workers = 1;
    double step_timeout = 1;
    std::vector<std::string> justification_files;  // any: reports show what is justified
};

struct Summary {
    std::vector<CoverageRow> criteria;  // in kCriteria order, only those with goals
    CoverageRow total;
    std::size_t passed = 0, failed = 0, crashed = 0, timed_out = 0;
    std::vector<ThresholdResult> thresholds;
    std::vector<Contradiction> contradictions;  // in goal order; warnings that do not fail the run
    bool all_passed() const;                    // no failed, crashed or timed-out case; every threshold met
};

class Report {
public:
    // Thresholds compare percent covered; justifications must name distinct
    // goals of the target's schema (as load_justifications gives them).
    Report(const Target& target, const Plan& plan, const RunResult& result, RunInfo info,
           std::vector<Threshold> thresholds, std::vector<Justification> justifications = {});

    const Summary& summary() const { return summary_; }
    const std::vector<Justification>& justifications() const { return justifications_; }
    int exit_code() const { return summary_.all_passed() ? 0 : 1; }

    void text(std::ostream& out, bool trace) const;
    void json(std::ostream& out) const;
    void junit(std::ostream& out) const;

    // "KIV_G<n> is justified as not reachable but case X step Y reached it: ..."
    std::string contradiction_text(const Contradiction& c) const;

private:
    static std::string fixed(double v, int digits = 1);
    static std::string signal_name(int sig);
    std::string goal_name(std::size_t g) const;  // KIV_G<n>, or "ID <id>" without a catalog
    std::string goal_label(std::size_t g) const;
    std::string step_where(int64_t c, int32_t step) const;
    std::string case_problem(std::size_t c) const;
    std::string criterion_of(std::size_t g) const;
    std::vector<std::size_t> goal_order() const;
    const Justification* justification_of(std::size_t g) const;
    void coverage_text(std::ostream& out) const;
    void unreached_text(std::ostream& out) const;

    const Target& target_;
    const Plan& plan_;
    const RunResult& result_;
    RunInfo info_;
    std::vector<Justification> justifications_;
    std::vector<int32_t> justified_by_;  // per goal: into justifications_, or -1
    Summary summary_;
};

}  // namespace kiv
