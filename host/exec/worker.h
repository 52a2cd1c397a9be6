// A worker process: claims cases from the ledger and runs them in-process,
// turning a fault or a hung step into a reported case instead of a lost run.
#pragma once

#include "exec/process_state.h"
#include "exec/run.h"
#include "exec/shared_state.h"
#include "exec/snapshot.h"
#include "exec/step.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv::detail {

inline constexpr int kTimeoutSignal = SIGUSR2;  // from the parent, with the token of the step it gave up on

// Built in the parent, copied into each child by fork: whatever it prepares
// up front a child inherits instead of allocating.
class Worker {
public:
    // snapshot: the library's data at load (null in fork isolation).
    Worker(const Target& target, const Plan& plan, SharedState& shared, std::size_t lane, const Snapshot* snapshot);

    // In the child only: installs the fault and timeout handlers, runs cases
    // until none is left (snapshot) or one case (fork), then exits the
    // process; never returns. Exit 3: a fault was reported; 4: refused.
    [[noreturn]] void main();

private:
    void run_case(int64_t c, bool record, uint64_t* output_hash);
    void check_case(int64_t c);
    void read_watched();
    void record_reached(int64_t c, int32_t step);
    int run_step(const PlanStep& st);
    int rerun_reading(int64_t c, uint32_t steps);
    void read_goals();
    void restore();
    [[noreturn]] void fault(int sig);
    [[noreturn]] void refuse(const char* why);

    const Target& target_;
    const Plan& plan_;
    const Exports& api_;
    StepDriver drive_;
    SharedState& shared_;
    Ledger& ledger_;
    std::size_t lane_;
    const Snapshot* snapshot_;
    std::vector<int32_t> watch_;              // goal indices no earlier case has reached
    std::vector<int64_t> values_;             // goal values read by read_goals, per goal
    std::vector<uint32_t> hits_;              // positions in watch_ read_watched found reached
    std::vector<std::size_t> counted_;        // statement goals: their values are counts, summed over the cases
    std::size_t n_hits_ = 0;
    int64_t case_ = -1;                       // the case being run
    int32_t step_ = -1;
    double case_started_ = 0;  // monotonic seconds, for the case's time
    bool checking_ = false, second_run_ = false;
    bool exact_ = false;  // goals are read after every step, not once at the case's end
    std::vector<int32_t> fault_hits_;  // goals found reached at a fault, before they are placed
    CaseOutcome outcome_;  // of the case being run, so far
    ProcessState process_;  // snapshot isolation: what is put back besides the library's data
};

}  // namespace kiv::detail
