// Running a plan: every case from the library's state at load, in worker
// processes under a parent that survives faults and hung steps.
#pragma once

#include "error.h"
#include "suite/plan.h"
#include "load/target.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

enum class Isolation {
    snapshot,  // a worker restores the library's writable data between cases
    fork,      // a fresh child of the loaded parent per case
};

// A run reports each case passed, failed, crashed, timed_out or not_run (its
// worker was lost before it started and it could not be run again); only
// passed lets the run pass. pending and running never leave a run.
enum class CaseStatus : uint32_t { pending, running, passed, failed, crashed, timed_out, not_run };

struct CaseOutcome {
    CaseStatus status = CaseStatus::pending;
    int32_t signal = 0;       // crashed: the signal that ended the step
    int32_t fault_step = -1;  // crashed or timed out: the step, from 0
    bool goals_kept = false;  // the exception entry ran after the fault
    int32_t checks = 0;       // expectations evaluated
    int32_t mismatches = 0;
    int32_t mismatch_step = -1;  // the first mismatch, step from 0
    int32_t mismatch_output = -1;
    uint64_t actual = 0;         // the first mismatch's output value, raw bits of its kind
    float seconds = 0;  // wall time of the case in its worker; 0 when the worker was killed
};

struct GoalReach {
    int64_t case_index = -1;  // first case (plan order) that reached the goal; -1: never
    int32_t step = -1;
    uint64_t count = 0;  // statement goals: runs of the block, summed over the cases that passed or failed
};

struct RunOptions {
    Isolation isolation = Isolation::snapshot;
    int workers = 1;
    double step_timeout = 1.0;  // seconds one step may take
    bool progress = false;      // a progress line on stdout while running
    bool case_goals = false;    // record every goal each case reaches (RunResult::case_goals)
    bool fail_fast = false;     // start no case after one that did not pass
};

struct RunResult {
    std::vector<CaseOutcome> cases;  // per Plan::cases
    std::vector<GoalReach> goals;    // per Schema::goals
    double seconds = 0;              // wall time of the execution alone
    std::string stopped;             // why cases were left not run; empty when every case was run
    // With RunOptions::case_goals: per case, a bit per goal it reached, in
    // words of 64; empty for a case that did not pass or fail.
    std::vector<std::vector<uint64_t>> case_goals;
};

// The library keeps state that restoring its data does not reset.
struct SnapshotRefused : Error {
    using Error::Error;
};

// Runs every case of the plan. Throws SnapshotRefused when a case run after a
// restore differs from the same case in a fresh process, Error when workers
// cannot be started. Must be called from a single-threaded process.
RunResult run(const Target& target, const Plan& plan, const RunOptions& options);

}  // namespace kiv
