// Moving cases between states; the only writer of LedgerCase::word.
#include "exec/ledger.h"

#include <new>

namespace kiv::detail {

namespace {

// The lane's worker is the only writer of its beat while it lives, so a plain
// store does where a locked add would cost every step.
void bump(std::atomic<uint64_t>& beat) {
    beat.store(beat.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

enum Phase : uint32_t { open, claimed, running, final };

constexpr uint32_t word(Phase p, std::size_t lane) {
    return p | static_cast<uint32_t>(lane) << 8;
}

constexpr Phase phase(uint32_t w) {
    return static_cast<Phase>(w & 0xff);
}

constexpr bool is_final(CaseStatus s) {
    return s == CaseStatus::passed || s == CaseStatus::failed || s == CaseStatus::crashed ||
           s == CaseStatus::timed_out;
}

}  // namespace

Ledger::Ledger(LedgerCase* cases, std::size_t n_cases, LedgerLane* lanes, std::size_t n_lanes)
    : cases_(cases), n_cases_(n_cases), lanes_(lanes) {
    for (std::size_t c = 0; c < n_cases; ++c)
        new (&cases_[c]) LedgerCase{{word(open, 0)}, {}};
    for (std::size_t i = 0; i < n_lanes; ++i)
        new (&lanes_[i]) LedgerLane{{-1}, {-1}, {1}};  // token 0 is never a step's
}

int64_t Ledger::claim(std::size_t lane, int64_t max, int64_t* end) {
    if (closed()) return -1;
    const auto n = static_cast<int64_t>(n_cases_);
    int64_t first = -1, last = -1, got = 0;
    auto take_from = [&](int64_t c) {
        for (; c < n && got < max; ++c) {
            uint32_t w = word(open, 0);
            if (cases_[c].word.load(std::memory_order_relaxed) == w &&
                cases_[c].word.compare_exchange_strong(w, word(claimed, lane), std::memory_order_acq_rel)) {
                if (first < 0) first = c;
                last = c, ++got;
            }
        }
    };
    take_from(hint_.load(std::memory_order_relaxed));
    if (!got) take_from(0);  // cases a dead worker had claimed reopen below the hint
    int64_t h = hint_.load(std::memory_order_relaxed);
    while (got && h < last + 1 && !hint_.compare_exchange_weak(h, last + 1, std::memory_order_relaxed)) {
    }
    *end = last + 1;
    return first;
}

bool Ledger::owned(std::size_t lane, int64_t c) const {
    return cases_[c].word.load(std::memory_order_relaxed) == word(claimed, lane);
}

void Ledger::start(std::size_t lane, int64_t c) {
    LedgerLane& l = lanes_[lane];
    // The step first: a worker reaped after this start must never report the
    // previous case's step as this one's.
    l.step.store(-1, std::memory_order_relaxed);
    l.case_index.store(c, std::memory_order_relaxed);
    bump(l.beat);
    cases_[c].word.store(word(running, lane), std::memory_order_release);
}

void Ledger::finish(std::size_t lane, const CaseOutcome& outcome) {
    LedgerLane& l = lanes_[lane];
    const int64_t c = l.case_index.load(std::memory_order_relaxed);
    bump(l.beat);
    if (c < 0 || !is_final(outcome.status) || cases_[c].word.load() != word(running, lane)) return;
    cases_[c].outcome = outcome;
    cases_[c].word.store(word(final, lane), std::memory_order_release);
    finished_.fetch_add(1, std::memory_order_relaxed);
    if (fail_fast_ && outcome.status != CaseStatus::passed) closed_.store(true, std::memory_order_relaxed);
}

void Ledger::abandon(std::size_t lane, int signal, uint64_t timeout_token) {
    LedgerLane& l = lanes_[lane];
    const int64_t c = l.case_index.load();
    if (c >= 0 && cases_[c].word.load() == word(running, lane)) {
        CaseOutcome o;
        const bool timed_out = timeout_token != 0 && timeout_token == l.beat.load();
        o.status = timed_out ? CaseStatus::timed_out : CaseStatus::crashed;
        o.signal = timed_out ? 0 : signal;
        o.fault_step = l.step.load();
        cases_[c].outcome = o;
        cases_[c].word.store(word(final, lane), std::memory_order_release);
        if (fail_fast_) closed_.store(true, std::memory_order_relaxed);
        finished_.fetch_add(1, std::memory_order_relaxed);
    }
    for (std::size_t k = 0; k < n_cases_; ++k)
        if (cases_[k].word.load(std::memory_order_relaxed) == word(claimed, lane)) {
            cases_[k].word.store(word(open, 0), std::memory_order_relaxed);
            reopened_ = true;
        }
    l.case_index.store(-1);
    l.step.store(-1);
    bump(l.beat);
}

bool Ledger::any_open() const {
    if (closed()) return false;
    // Only a reopened case can be open below the hint: without one, fork
    // isolation's check before every spawn stays short.
    const auto from = reopened_ ? 0 : static_cast<std::size_t>(hint_.load());
    for (std::size_t c = from; c < n_cases_; ++c)
        if (cases_[c].word.load(std::memory_order_relaxed) == word(open, 0)) return true;
    return false;
}

CaseOutcome Ledger::result(int64_t c) const {
    if (phase(cases_[c].word.load(std::memory_order_acquire)) == final) return cases_[c].outcome;
    CaseOutcome o;
    o.status = CaseStatus::not_run;
    return o;
}

}  // namespace kiv::detail
