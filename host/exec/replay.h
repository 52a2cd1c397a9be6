// Running chosen cases again to see their outputs, apart from the run that
// judges them: one forked child steps the library from its state at load,
// restoring that state between cases, and hands every output back after each
// step. The run's own path (workers, ledger) stays as it is.
#pragma once

#include "suite/plan.h"
#include "load/target.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kiv {

// Called in the calling process after each step of each case, in order:
// the case (index into plan.cases), its step (from 0) and the value of every
// output (per Schema::outputs; 0 for an output the library has no symbol of).
using StepOutputs = std::function<void(std::size_t, uint32_t, const std::vector<uint64_t>&)>;

// Replays the cases of plan given by `cases`. Throws Error naming the case
// and step when the library crashes or a step takes longer than
// step_timeout seconds: outputs after that would be made up.
void replay(const Target& target, const Plan& plan, const std::vector<std::size_t>& cases, double step_timeout,
            const StepOutputs& each_step);

// One failed check seen when replaying a case.
struct FailedCheck {
    uint32_t step = 0;    // from 0
    uint32_t expect = 0;  // into Plan::expects
    uint64_t actual = 0;  // raw bits of the output's kind (suite/value.h)
};

// Replays `cases` and applies their checks as the run's workers do, for
// every failed check where the workers keep only the first (their shared
// memory is of fixed size). Per entry of `cases`, its failed checks in step
// order. Throws Error as replay() does.
std::vector<std::vector<FailedCheck>> replay_failed_checks(const Target& target, const Plan& plan,
                                                           const std::vector<std::size_t>& cases, double step_timeout);

}  // namespace kiv
