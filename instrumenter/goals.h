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

// What --goals proposes: the goal table, and the goals that no input can
// reach (a cast's bound its value never crosses, read from the sites file
// beside each table) as a justification file for kivrun --justify.
struct Proposal {
    std::string table;
    std::string justification;  // CSV goal,reason; empty when every goal is reachable
};

// A malformed table: the message starts with file:line.
struct TableError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// KIV_GOAL rows, then a comment listing the records left without a goal.
// Refuses (TableError) a table given twice, two tables of one unit number, a
// record in two tables, and a skipped function no table has.
Proposal propose_goals(const GoalOptions& options);

}  // namespace kivinst
