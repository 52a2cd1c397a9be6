// A worker process: claims cases in plan order and runs them in-process,
// turning a fault or a hung step into a reported case instead of a lost run.
#pragma once

#include "run.h"
#include "shared_state.h"
#include "snapshot.h"

#include <cstdint>
#include <vector>

namespace kiv::detail {

// The fault and timeout handlers of the workers, installed in the parent
// before it forks them (so a child starts with nothing to set up) and put
// back as they were when the run ends.
class WorkerSignals {
public:
    WorkerSignals();
    ~WorkerSignals();
    WorkerSignals(const WorkerSignals&) = delete;
    WorkerSignals& operator=(const WorkerSignals&) = delete;

private:
    std::vector<char> alt_stack_;
};

// Built in the parent, copied into each child by fork: whatever it prepares
// up front a child inherits instead of allocating.
class Worker {
public:
    // snapshot: the library's data at load (null in fork isolation).
    Worker(const Target& target, const Plan& plan, SharedState& shared, std::size_t lane, const Snapshot* snapshot);

    // Runs cases until none is left (snapshot) or one case (fork), then exits
    // the process; never returns. Exit 3: a fault was reported; 4: refused.
    [[noreturn]] void main();

private:
    void run_case(int64_t c, bool record, uint64_t* output_hash);
    void check_case(int64_t c);
    void scan_goals(int64_t c, int32_t step);
    std::vector<int64_t> goal_vector() const;
    void publish(int64_t c, CaseStatus status);
    [[noreturn]] void fault(int sig);
    [[noreturn]] void refuse(const std::string& why);
    void beat() { lane_.beat.store(++beat_, std::memory_order_relaxed); }

    const Target& target_;
    const Plan& plan_;
    const Exports& api_;
    SharedState& shared_;
    SharedLane& lane_;
    const Snapshot* snapshot_;
    std::vector<volatile uint8_t*> outputs_;  // per Schema::outputs
    std::vector<int32_t> watch_;              // goal indices no earlier case has reached
    uint64_t beat_ = 0;
    int64_t case_ = -1;  // the case being run
    int32_t step_ = -1;
    bool checking_ = false, second_run_ = false;
    CaseOutcome outcome_;  // of the case being run, so far
};

}  // namespace kiv::detail
