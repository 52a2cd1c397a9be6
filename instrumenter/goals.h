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
    std::string justification;  // proven_justification(); empty when every goal is reachable
    std::vector<std::string> unproposed;  // records of a kind that gets no goal
};

// A malformed table: the message starts with file:line.
struct TableError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A goal no input can reach, with the proof: its number, record and field,
// why, and the method and invariant or bound the proof rests on.
struct ProvenGoal {
    int goal = 0;
    std::string record, field, reason, method, proof;
};

// A kivrun --justify file of proven goals: columns goal, reason, method,
// proof and tool (this kivinst's version), one row per goal.
std::string proven_justification(const std::vector<ProvenGoal>& goals);

// The method and proof of what ranges.h finds.
inline constexpr const char* kRangeMethod = "value range";
inline constexpr const char* kRangeProof = "operand ranges from types, bit-field widths and constants, on every step";
// The method of what prove/ finds, and what its invariant assumes.
inline constexpr const char* kBehaviourMethod = "state invariant";
inline constexpr const char* kBehaviourAssumes =
    "for any number of steps of any scope, from the load state; inputs and stub results any value of their type; "
    "stubs write only what their pointer arguments reach; objects other files can name hold any value at load; "
    "no write outside its object; integers wrap in two's complement";

// KIV_GOAL rows, then a comment listing the records left without a goal.
// Refuses (TableError) a table given twice, two tables of one unit number, a
// record in two tables, and a skipped function no table has.
Proposal propose_goals(const GoalOptions& options);

}  // namespace kivinst
