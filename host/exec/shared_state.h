// The memory the parent and its workers share: the ledger of cases, the
// first step that reached each goal, and the snapshot check's state.
#pragma once

#include "exec/channel.h"
#include "exec/ledger.h"
#include "exec/run.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kiv::detail {

inline constexpr uint64_t kNotReached = ~uint64_t{0};
inline constexpr int kStepBits = 24;  // steps per case below 2^24

inline uint64_t reach_code(int64_t c, int32_t step) {
    return (static_cast<uint64_t>(c) << kStepBits) | static_cast<uint32_t>(step);
}

enum CheckState : uint32_t { check_pending, check_running, check_passed, check_refused };

struct SharedHeader {
    std::atomic<uint32_t> check;  // CheckState of the snapshot-versus-fork check
    char refusal[1024];
};

// One anonymous shared mapping laid out as header, ledger, lanes, cases, goals
// (first reach, then counts), case goals.
class SharedState {
public:
    SharedState(std::size_t cases, std::size_t goals, std::size_t lanes, bool case_goals = false);

    SharedHeader& header() { return *header_; }
    Ledger& ledger() { return *ledger_; }
    std::atomic<uint64_t>& reach(std::size_t g) { return reach_[g]; }
    // Case c's goal bits, words() of them; null unless asked for. Only the
    // worker that finishes the case writes them, before the ledger says final.
    uint64_t* case_goals(std::size_t c) { return case_goals_ ? case_goals_ + c * words() : nullptr; }
    std::size_t words() const { return (n_goals_ + 63) / 64; }
    std::size_t cases() const { return n_cases_; }
    std::size_t goals() const { return n_goals_; }
    std::size_t lanes() const { return n_lanes_; }

    // Adds a case's value of goal g (a statement goal's count of its block's
    // runs); the worker that finishes the case adds it once.
    void count(std::size_t g, uint64_t n) { counts_[g].fetch_add(n, std::memory_order_relaxed); }
    uint64_t counted(std::size_t g) const { return counts_[g].load(std::memory_order_relaxed); }

    // Lowers goal g's first reach to code; concurrent workers may race.
    void reached(std::size_t g, uint64_t code) {
        uint64_t cur = reach_[g].load(std::memory_order_relaxed);
        while (code < cur && !reach_[g].compare_exchange_weak(cur, code, std::memory_order_relaxed)) {
        }
    }

private:
    std::size_t n_cases_, n_goals_, n_lanes_;
    std::optional<SharedBlock> block_;
    SharedHeader* header_;
    Ledger* ledger_;
    std::atomic<uint64_t>* reach_;
    std::atomic<uint64_t>* counts_;
    uint64_t* case_goals_ = nullptr;
};

}  // namespace kiv::detail
