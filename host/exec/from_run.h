// Turns what the executor leaves (indices into a plan and a schema) into the
// self-contained result every report is written from.
#pragma once

#include "suite/justify.h"
#include "suite/plan.h"
#include "model/result.h"
#include "exec/run.h"
#include "load/target.h"

namespace kiv {

// desc's library and catalog identities are filled here from the target.
Result make_result(const Target& target, const Plan& plan, const RunResult& run, RunDescription desc,
                   const std::vector<Justification>& justifications, std::vector<Threshold> thresholds);

}  // namespace kiv

namespace kiv {

// Every failed check of the failed cases, found by replaying them apart from
// the run (its workers keep only the first, in fixed-size shared memory).
// When the replay cannot run a case or disagrees with the run, the case keeps
// what the run found, and a note says so on `warnings`.
void add_every_failed_check(Result& result, const Target& target, const Plan& plan, double step_timeout,
                            std::ostream& warnings);

}  // namespace kiv
