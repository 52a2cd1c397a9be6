// Turns what the executor leaves (indices into a plan and a schema) into the
// self-contained result every report is written from.
#pragma once

#include "justify.h"
#include "plan.h"
#include "result.h"
#include "run.h"
#include "target.h"

namespace kiv {

// desc's library and catalog identities are filled here from the target.
Result make_result(const Target& target, const Plan& plan, const RunResult& run, RunDescription desc,
                   const std::vector<Justification>& justifications, std::vector<Threshold> thresholds);

}  // namespace kiv
