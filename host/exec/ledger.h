// The ledger: the one owner of every case's lifecycle in the memory the parent
// and its workers share. A case is open, claimed by a lane, running in it, or
// final; finish and abandon are the only ways to final, and a case that never
// got there is reported as not run, so no case is lost or counted twice.
#pragma once

#include "exec/run.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kiv::detail {

struct LedgerCase {
    std::atomic<uint32_t> word;  // Phase | lane << 8; only the Ledger writes it
    CaseOutcome outcome;         // valid once the word says final
};

struct alignas(64) LedgerLane {
    std::atomic<int64_t> case_index;  // the case its worker started last, -1 none
    std::atomic<int32_t> step;        // the step of that case, -1 before the first
    std::atomic<uint64_t> beat;       // the timeout token: new at every start, step and finish
};

class Ledger {
public:
    // Lays out and opens every case; the arrays live in the shared mapping.
    Ledger(LedgerCase* cases, std::size_t n_cases, LedgerLane* lanes, std::size_t n_lanes);

    // Worker side; `lane` is the caller's own.

    // Claims up to `max` open cases, lowest first. Returns the first, or -1 when
    // none is open; *end is one past the last. A case between them may belong
    // to another lane: run only those owned().
    int64_t claim(std::size_t lane, int64_t max, int64_t* end);
    bool owned(std::size_t lane, int64_t c) const;
    void start(std::size_t lane, int64_t c);
    // Steps of a case that is already final (a re-run for a check) only beat.
    // Inline: it runs at every step. The lane's worker is the only writer of
    // its beat while it lives: a plain store, no locked add.
    void step(std::size_t lane, int32_t s) {
        LedgerLane& l = lanes_[lane];
        l.step.store(s, std::memory_order_relaxed);
        l.beat.store(l.beat.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    // The started case's final state; status must be a final one.
    void finish(std::size_t lane, const CaseOutcome& outcome);

    // Parent side, once the lane's worker has been reaped. Its started case, if
    // not final, ends timed out when timeout_token is the lane's token still
    // (the step the parent gave up on never moved), else crashed of `signal`;
    // the cases it had claimed but not started are open again.
    void abandon(std::size_t lane, int signal, uint64_t timeout_token);

    uint64_t token(std::size_t lane) const { return lanes_[lane].beat.load(std::memory_order_relaxed); }
    const std::atomic<uint64_t>& token_of(std::size_t lane) const { return lanes_[lane].beat; }
    bool busy(std::size_t lane) const { return lanes_[lane].case_index.load(std::memory_order_relaxed) >= 0; }
    bool any_open() const;
    // --fail-fast: once a case ends other than passed, the ledger is closed:
    // nothing more is claimed or started, and what was not started is not run.
    void set_fail_fast(bool on) { fail_fast_ = on; }
    bool closed() const { return closed_.load(std::memory_order_relaxed); }
    uint64_t finished() const { return finished_.load(std::memory_order_relaxed); }
    // The final outcome, or not_run.
    CaseOutcome result(int64_t c) const;

private:
    std::atomic<int64_t> hint_{0};  // below it every case was claimed once; reopened ones are found by a full scan
    std::atomic<uint64_t> finished_{0};
    bool reopened_ = false;
    bool fail_fast_ = false;          // set before any worker starts
    std::atomic<bool> closed_{false};  // parent's own: cases below the hint may be open
    LedgerCase* cases_;
    std::size_t n_cases_;
    LedgerLane* lanes_;
};

}  // namespace kiv::detail
