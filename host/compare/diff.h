// Two results compared, as a gate on a change: goals gained and lost per
// criterion and by name, cases that newly fail or pass, cases added and
// removed. The two may be of different library builds; that is what a change
// makes. Goals are matched by variable ID, cases by suite:case.
#pragma once

#include "model/result.h"

#include <ostream>
#include <string>
#include <vector>

namespace kiv {

struct CriterionChange {
    std::string criterion;
    std::size_t old_reached = 0, old_total = 0, new_reached = 0, new_total = 0, gained = 0, lost = 0;
};

struct GoalChange {
    GoalResult goal;      // as described by the result that reached it
    std::string reached;  // "suite:case step N", in that result
};

struct CaseChange {
    std::string id;  // suite:case
    std::optional<Verdict> before, after;  // absent: not in that result
    std::string problem;  // what went wrong, in the newest result that has the case; empty: passed
};

// A requirement whose status became untested, failing or suspect.
struct RequirementChange {
    std::string id;
    std::string before, after;  // status names; before "absent" when the old result did not list it
};

struct ResultDiff {
    std::string old_path, new_path;
    std::string old_library_id, new_library_id;
    std::size_t old_cases = 0, new_cases = 0;
    std::vector<CriterionChange> criteria;  // in report order
    CriterionChange total;
    std::vector<GoalChange> gained, lost;
    std::vector<std::string> goals_only_old, goals_only_new;  // the library's goal list itself changed
    std::vector<CaseChange> newly_failing, newly_passing, added, removed;
    std::vector<RequirementChange> requirements_worse;

    // A new case that does not pass counts as a case that newly fails.
    std::size_t added_failing() const;
    // A goal was lost or a case newly fails: the change regresses.
    bool regressed() const {
        return !lost.empty() || !newly_failing.empty() || added_failing() > 0 || !requirements_worse.empty();
    }
};

ResultDiff diff_results(const Result& before, const Result& after, const std::string& old_path,
                        const std::string& new_path);

// Requirements newly untested, failing or suspect (compare/trace_diff.cpp).
void compare_requirements(const Result& before, const Result& after, ResultDiff& d);

void write_diff_text(const ResultDiff& d, std::ostream& out);
void write_diff_json(const ResultDiff& d, std::ostream& out);

}  // namespace kiv
