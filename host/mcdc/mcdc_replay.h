// Replaying a run's cases in a child process to read, step by step, how each
// decision was evaluated. The run itself is left alone: its goals and every
// other figure come from the workers as without --mcdc.
//
// Not host/exec/replay.h: that one hands back outputs after each step and
// stops at a fault, while MC/DC must clear flags before each step, read them
// after it, and keep what the cases before a lost one gave.
#pragma once

#include "mcdc/mcdc.h"
#include "mcdc/mcdc_flags.h"
#include "suite/plan.h"
#include "exec/run.h"
#include "load/target.h"

#include <cstdint>
#include <vector>

namespace kiv::mcdc {

struct Where {
    int64_t case_index = -1;
    int32_t step = 0;  // from 1
};

struct Observations {
    // Per watched decision: its distinct vectors in the order first seen, and where.
    std::vector<std::vector<Vector>> seen;
    std::vector<std::vector<Where>> first_seen;
    std::vector<uint64_t> vectors;   // steps that evaluated it once
    std::vector<uint64_t> repeated;  // steps that evaluated it more than once
    uint64_t steps = 0;              // steps replayed
    uint64_t not_replayed = 0;       // after a fault, in cases that did not run, or lost with a replay child
};

// Replays every case of the plan up to the step where it faulted in `run`,
// from the library's state at load, in forked children: one for all cases,
// restoring the library's data between them (snapshot), or one per case
// (fork); a fresh one after a child dies or hangs longer than step_timeout.
// Must be called from the process that loaded the target and never stepped it.
Observations replay(const Target& target, const Plan& plan, const RunResult& run, const std::vector<Watched>& watched,
                    Isolation isolation, double step_timeout);

}  // namespace kiv::mcdc
