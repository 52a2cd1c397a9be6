// kivinst --goals: a goal table proposed for record tables, in the layout of
// src/instrumentation/goals.def.
#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kivinst {

struct GoalOptions {
    int first = 1;                           // number of the first goal
    std::set<std::string> skipped_functions; // their records get no goal
    std::vector<std::string> tables;         // *_records.def files, one unit each, in goal order
};

// A malformed table: the message starts with file:line.
struct TableError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// KIV_GOAL rows, then a comment listing the records left without a goal.
std::string propose_goals(const GoalOptions& options);

}  // namespace kivinst
