// The phrases every report shares, and the commands and the JSON result
// with them, so that a case's problem or a goal's label reads the same in
// every format.
#pragma once

#include "model/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// "step 4 (suite.csv:6)"
std::string step_where(const CaseResult& c, int32_t step);
// One line on what went wrong in a case; empty when it passed.
std::string case_problem(const Result& result, const CaseResult& c);
// The warning for a goal that is justified as unreachable and was reached.
std::string contradiction_text(const Result& result, std::size_t goal);
// The warning for an MC/DC condition justified as unshowable that was shown.
std::string mcdc_contradiction_text(const Result& result, std::size_t decision, std::size_t condition);
// "TF- -> F": an MC/DC vector, its conditions in evaluation order, then the outcome.
std::string mcdc_vector_text(const McdcVector& v);
// Goals in report order (by goal number, which groups them by unit and criterion).
std::vector<std::size_t> goal_order(const Result& result);
// "ID 1564 KIV_G15"
std::string goal_label(const GoalResult& g);
// "not within 12 steps: <why>", or "no bound known: <why>"
// when the prover knows none: why a goal is left unknown.
std::string unsettled_text(const Unsettled& u);
// A percentage with as many decimals as make a threshold verdict visible:
// never "80.1 < 80.1".
std::string percent_text(double value, double against = -1);
// Text for a terminal: control bytes but the newline shown as \xNN, as the
// suite reader's messages show them, so a name or value cannot drive it.
std::string terminal_text(const std::string& text);

// printf into a string of whatever length it takes: a column never cuts a row.
[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...);

// "1 case", "2 cases"
std::string count(std::size_t n, const char* singular, const char* plural);

}  // namespace kiv
