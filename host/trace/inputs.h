// The options `run` and `report` share for traceability: the requirement
// set, its ReqIF mapping, and the acceptances that clear a changed
// requirement. They fill the result's trace section.
#pragma once

#include "exec/run.h"
#include "model/result.h"
#include "suite/plan.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace kiv {

struct TraceInputs {
    std::vector<std::string> requirements;  // CSV, .reqif or .reqifz files
    std::string mapping;                     // --req-map
    std::vector<std::string> accepted;       // acceptance files
    std::vector<std::string> accept;         // --accept ID: accepted now, recorded in the result

    void add_options(CLI::App& cmd);
    bool any() const { return !requirements.empty() || !accepted.empty() || !accept.empty(); }
    // The input files, for the check that no report overwrites one.
    std::vector<std::string> files() const;
    // Reads the files, before anything runs; throws SuiteError with every
    // located problem, Error for --accept of an ID not in the set.
    struct Loaded {
        std::vector<Requirement> requirements;
        std::vector<Acceptance> accepted;
    };
    Loaded load() const;
    // Puts what was loaded into result.trace (created when missing, with an
    // empty link per case). A set given replaces the result's own.
    void apply(const Loaded& loaded, Result& result) const;
};

// The plan's links and, for linked cases, the goals each reached, into
// result.trace; nothing when no case has traceability cells.
void add_case_links(Result& result, const Plan& plan, const RunResult& run);

}  // namespace kiv
