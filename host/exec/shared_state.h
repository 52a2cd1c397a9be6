// The memory the parent and its workers share: case results, the first step
// that reached each goal, and per-worker progress the parent watches.
#pragma once

#include "run.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kiv::detail {

inline constexpr uint64_t kNotReached = ~uint64_t{0};
inline constexpr int kStepBits = 24;  // steps per case below 2^24

inline uint64_t reach_code(int64_t c, int32_t step) {
    return (static_cast<uint64_t>(c) << kStepBits) | static_cast<uint32_t>(step);
}

enum CheckState : uint32_t { check_pending, check_running, check_passed, check_refused };

struct SharedHeader {
    std::atomic<int64_t> next_case;  // workers claim cases in plan order
    std::atomic<uint64_t> finished;  // for the progress line
    std::atomic<uint32_t> check;     // CheckState of the snapshot-versus-fork check
    char refusal[1024];
};

struct SharedCase {
    std::atomic<uint32_t> status;  // CaseStatus; written last
    CaseOutcome outcome;
};

struct alignas(64) SharedLane {
    std::atomic<int64_t> case_index;  // the case its worker runs, -1 none
    std::atomic<uint64_t> beat;       // bumped at every step and case end
    std::atomic<int32_t> step;
    std::atomic<int64_t> claim_end;  // end of the chunk of cases the worker claimed
    // Cases a dead worker had claimed but not run, for the next worker here.
    std::atomic<int64_t> resume_next, resume_end;
};

// One anonymous shared mapping laid out as header, lanes, cases, goals.
class SharedState {
public:
    SharedState(std::size_t cases, std::size_t goals, std::size_t lanes);
    ~SharedState();
    SharedState(const SharedState&) = delete;
    SharedState& operator=(const SharedState&) = delete;

    SharedHeader& header() { return *header_; }
    SharedLane& lane(std::size_t i) { return lanes_[i]; }
    SharedCase& result(std::size_t c) { return cases_[c]; }
    std::atomic<uint64_t>& reach(std::size_t g) { return reach_[g]; }
    std::size_t cases() const { return n_cases_; }
    std::size_t goals() const { return n_goals_; }
    std::size_t lanes() const { return n_lanes_; }

    // Lowers goal g's first reach to code; concurrent workers may race.
    void reached(std::size_t g, uint64_t code) {
        uint64_t cur = reach_[g].load(std::memory_order_relaxed);
        while (code < cur && !reach_[g].compare_exchange_weak(cur, code, std::memory_order_relaxed)) {
        }
    }

private:
    void* base_ = nullptr;
    std::size_t bytes_ = 0, n_cases_, n_goals_, n_lanes_;
    SharedHeader* header_;
    SharedLane* lanes_;
    SharedCase* cases_;
    std::atomic<uint64_t>* reach_;
};

}  // namespace kiv::detail
