// Justifications: goals that no input can reach, each with the engineer's
// reason, read from CSV files and checked against the schema before a run.
#pragma once

#include "load/target.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

struct Justification {
    std::size_t goal = 0;  // into Schema::goals; unused for an MC/DC condition
    std::string reason;
    std::string file;  // where it was written, for reports and warnings
    int32_t line = 0;
    // An MC/DC condition no pair can show, "MCDC:<decision record>:<condition
    // index or record>"; resolved against the catalog by the MC/DC analysis.
    std::string mcdc_decision, mcdc_condition;
    int32_t column = 0;  // of the goal cell
    // A proof a tool wrote: how (empty for a justification by hand), the
    // invariant or bound it rests on, and the tool and its version.
    std::string method, proof, tool;
    bool proven() const { return !method.empty(); }
};

// Parses one justification file (columns 'goal' and 'reason', optionally
// 'note', and 'method', 'proof' and 'tool' of a file a prover wrote; a row
// with a method is a proof, one without a justification by hand) and appends its rows to list. A goal is named by its variable ID or,
// with a catalog, as KIV_G<n> or MCDC:<decision>:<condition>; a goal already
// in list is an error. Throws
// SuiteError with every problem found; on error list is left as it was.
void parse_justifications(const std::string& file, const std::string& text, const Schema& schema,
                          std::vector<Justification>& list);

// Reads and parses every file; throws SuiteError listing the problems of all.
std::vector<Justification> load_justifications(const std::vector<std::string>& files, const Schema& schema);

}  // namespace kiv
