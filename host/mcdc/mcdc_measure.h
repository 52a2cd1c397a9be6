// --mcdc on a run: what it needs checked before the run (decisions in the
// catalog, their records by symbol, justifications resolved), and the MC/DC
// section of the result from a replay of the run's cases.
#pragma once

#include "suite/justify.h"
#include "mcdc/mcdc.h"
#include "mcdc/mcdc_replay.h"
#include "suite/plan.h"
#include "model/result.h"
#include "exec/run.h"
#include "load/target.h"

#include <map>
#include <utility>
#include <vector>

namespace kiv {

struct McdcSetup {
    std::vector<const CatalogRecord*> decisions;  // DC records, in catalog order
    std::vector<mcdc::Expression> expressions;    // per decision
    std::vector<mcdc::Watched> watched;           // per decision; empty when not measuring
    std::map<std::pair<std::size_t, std::size_t>, Justified> justified;  // (decision, condition)
};

// Resolves the MC/DC rows of the justification files (those with
// mcdc_decision set) against the catalog, and, when measuring, finds every
// decision's and condition's record by symbol. Throws Error when measuring
// is impossible (no catalog, a catalog without decisions, a library without
// symbols or lacking a record's) and SuiteError for rows naming no condition
// or one already justified.
McdcSetup prepare_mcdc(const Target& target, const std::vector<Justification>& rows, bool measure);

// Replays the run's cases, isolated as the run was, and analyses each decision's vectors.
McdcSection measure_mcdc(const Target& target, const Plan& plan, const RunResult& run, const McdcSetup& setup,
                         const RunOptions& options);

}  // namespace kiv
