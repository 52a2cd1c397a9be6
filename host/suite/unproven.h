// The goals a prover left open, each with why and how many steps from the
// load state are known not to reach it, read before a run so that reports
// can say what is honestly unknown and why.
#pragma once

#include "load/target.h"
#include "model/result.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kiv {

struct UnsettledGoal {
    std::size_t goal = 0;  // into Schema::goals
    Unsettled what;
};

// Parses a file of columns 'goal' (KIV_G<n>), 'not_within' (a whole number of
// steps, 0: no bound), 'why' and optionally 'record' and 'flag', which must be
// the catalog's for that goal (else the file is of another build). Throws
// SuiteError with every problem found.
std::vector<UnsettledGoal> parse_unproven(const std::string& file, const std::string& text, const Schema& schema);

// Reads and parses one file; throws SuiteError when it cannot be read or is bad.
std::vector<UnsettledGoal> load_unproven(const std::string& file, const Schema& schema);

// The file kivinst writes with a harness library DIR/lib<name>.so:
// DIR/<name>.unproven.csv, or DIR/<name>_harness/<name>.unproven.csv where
// kiv_add_harness built it; empty when there is none.
std::string unproven_beside(const std::string& library);

}  // namespace kiv
