// The worker's case loop, its fault handling and the snapshot check.
#include "exec/worker.h"

#include "exec/child.h"

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kiv::detail {

namespace {

// Monotonic seconds; clock_gettime is safe on the fault path too.
double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

sigjmp_buf g_jump;
volatile sig_atomic_t g_armed = 0;   // 1 while the library runs on our behalf
volatile sig_atomic_t g_signal = 0;  // the signal that ended it
const std::atomic<uint64_t>* g_token = nullptr;  // the lane's timeout token, read in the handler
// Set in a copy of the worker the library forked: it is not the case's own
// process, so whatever it goes on to run is never recorded.
volatile sig_atomic_t g_copy = 0;

extern "C" void on_fork_child() {
    g_copy = 1;
}
static_assert(std::atomic<uint64_t>::is_always_lock_free, "the handler reads the token");

extern "C" void on_signal(int sig, siginfo_t* info, void*) {
    // A token that is no longer the lane's is for a step that has ended since
    // the parent looked: this step must not pay for it.
    if (sig == kTimeoutSignal &&
        (info->si_code != SI_QUEUE ||
         reinterpret_cast<uintptr_t>(info->si_value.sival_ptr) != static_cast<uintptr_t>(g_token->load())))
        return;
    if (g_armed) {
        g_armed = 0;
        g_signal = sig;
        siglongjmp(g_jump, 1);
    }
    if (sig == kTimeoutSignal) return;  // in host code: the parent kills the worker when its grace ends
    // A fault in the host's own code: die of it as if there were no handler.
    signal(sig, SIG_DFL);
    raise(sig);
}

void unblock_handled_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kFaultSignals)
        sigaddset(&set, s);
    sigaddset(&set, kTimeoutSignal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

alignas(16) char g_alt_stack[1 << 16];  // large enough for a stack overflow's fault

// Only ever in a worker: a program that embeds the runner keeps its own handlers.
void install_handlers(const std::atomic<uint64_t>* token) {
    g_token = token;
    stack_t ss{};
    ss.ss_sp = g_alt_stack;
    ss.ss_size = sizeof g_alt_stack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_sigaction = on_signal;
    sa.sa_flags = SA_ONSTACK | SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    for (int s : kFaultSignals)
        sigaddset(&sa.sa_mask, s);
    sigaddset(&sa.sa_mask, kTimeoutSignal);
    for (int s : kFaultSignals)
        sigaction(s, &sa, nullptr);
    sigaction(kTimeoutSignal, &sa, nullptr);
    unblock_handled_signals();
}

// Runs fn, which must only call into the library, with fault recovery armed;
// returns 0, or the signal that ended it. The jump back skips fn's frames, so
// nothing there may own a resource, and no host code is left half-done.
template <class Fn>
[[gnu::noinline]] int guarded(const Fn& fn) {
    if (sigsetjmp(g_jump, 0) != 0) return g_signal;
    g_armed = 1;
    fn();
    g_armed = 0;
    return 0;
}

const char* fault_text(int sig) {
    if (sig == kTimeoutSignal) return "a timeout";
    for (std::size_t i = 0; i < std::size(kFaultSignals); ++i)
        if (kFaultSignals[i] == sig) return kFaultNames[i];
    return "a signal";
}

}  // namespace

Worker::Worker(const Target& target, const Plan& plan, SharedState& shared, std::size_t lane, const Snapshot* snapshot)
    : target_(target),
      plan_(plan),
      api_(target.library().api()),
      drive_(target),
      shared_(shared),
      ledger_(shared.ledger()),
      lane_(lane),
      snapshot_(snapshot),
      values_(shared.goals()),
      hits_(shared.goals()),
      fault_hits_(shared.goals()) {
    watch_.reserve(shared.goals());  // refilled in place, never reallocated in a worker
    const auto& goals = target.schema().goals;
    for (std::size_t g = 0; g < goals.size(); ++g)
        if (goals[g].info && goals[g].info->kind == "STM") counted_.push_back(g);
}

void Worker::main() {
    install_handlers(&ledger_.token_of(lane_));
    pthread_atfork(nullptr, nullptr, on_fork_child);
    if (snapshot_) {
        const Library& lib = target_.library();
        process_.take(lib.imports_any({"alarm", "ualarm", "setitimer"}),
                      lib.imports_any({"rand", "random", "srand", "srandom", "initstate", "setstate"}));
    }
    const auto n = static_cast<int64_t>(plan_.cases.size());
    // Cases are claimed a few at a time, in plan order: the shared hint is
    // touched once per chunk, and neighbouring results written by one process.
    const int64_t chunk = snapshot_ ? std::clamp<int64_t>(n / (64 * static_cast<int64_t>(shared_.lanes())), 1, 256) : 1;
    int64_t last = -1;
    for (int64_t end, first; (first = ledger_.claim(lane_, chunk, &end)) >= 0;)
        for (int64_t c = first; c < end; ++c) {
            if (!ledger_.owned(lane_, c) || ledger_.closed()) continue;
            // A goal is unwatched once an earlier case reached it; a case
            // reopened behind us may reach it earlier still.
            if (last < 0 || c < last) {
                watch_.clear();
                for (std::size_t g = 0; g < shared_.goals(); ++g)
                    watch_.push_back(static_cast<int32_t>(g));
            }
            last = c;
            uint32_t pending = check_pending;
            if (snapshot_ && shared_.header().check.compare_exchange_strong(pending, check_running))
                check_case(c);
            else
                run_case(c, true, nullptr);
            if (!snapshot_) _exit(0);  // fork isolation: one case per process
            restore();
            // A unit that leaks on every case: a fresh worker takes the cases left.
            if (process_.grown()) _exit(0);
        }
    _exit(0);
}

void Worker::run_case(int64_t c, bool record, uint64_t* output_hash) {
    const PlanCase& pc = plan_.cases[c];
    case_ = c;
    outcome_ = CaseOutcome{};
    if (record) {
        case_started_ = now();
        ledger_.start(lane_, c);
        std::erase_if(watch_,
                      [&](int32_t g) { return shared_.reach(g).load(std::memory_order_relaxed) < reach_code(c, 0); });
    }
    // Goal flags stay raised for the rest of a case, so with a snapshot to
    // go back to, one read at the case's end tells whether it reached a goal
    // no earlier case did; only such a case, a rare one, is run again with a
    // read after every step to find each goal's first step. Without a
    // snapshot every step is read, and so in the checked case, whose first
    // run must be the one in a fresh process.
    exact_ = record && (!snapshot_ || checking_);
    for (uint32_t s = 0; s < pc.n_steps; ++s) {
        const PlanStep& st = plan_.steps[pc.first_step + s];
        step_ = static_cast<int32_t>(s);
        if (const int sig = run_step(st)) fault(sig);
        for (uint32_t e = st.first_expect; e < st.first_expect + st.n_expects; ++e) {
            const PlanExpect& x = plan_.expects[e];
            const uint64_t actual = drive_.output(x.output);
            ++outcome_.checks;
            if (!accepts(plan_, x, actual) && outcome_.mismatches++ == 0) {
                outcome_.mismatch_step = step_;
                outcome_.mismatch_output = x.output;
                outcome_.actual = actual;
            }
        }
        if (exact_) record_reached(c, step_);
        if (output_hash)
            for (std::size_t o = 0; o < drive_.n_outputs(); ++o)
                if (drive_.has_output(o)) *output_hash = *output_hash * 131 + drive_.output(o) + 1;
    }
    if (!record) return;
    const double seconds = now() - case_started_;
    if (!exact_) {
        if (const int sig = guarded([&] { read_watched(); })) fault(sig);
        if (n_hits_ > 0) {
            n_hits_ = 0;
            if (const int sig = rerun_reading(c, pc.n_steps)) {
                char why[128];
                std::snprintf(why, sizeof why, "it ended with %s when run again after a restore", fault_text(sig));
                refuse(why);
            }
        }
    }
    // A statement goal holds how often its block ran in this case.
    if (const int sig = guarded([&] {
            for (std::size_t g : counted_)
                if (const int64_t n = api_.kiv_dll_get_output_int(static_cast<int32_t>(g)); n > 0)
                    shared_.count(g, static_cast<uint64_t>(n));
        }))
        fault(sig);
    if (uint64_t* bits = shared_.case_goals(static_cast<std::size_t>(c))) {
        // Goals accumulate over the case's steps, so the flags now are the case's goals.
        const std::size_t n = shared_.goals();
        if (const int sig = guarded([&] {
                for (std::size_t g = 0; g < n; ++g)
                    if (api_.kiv_dll_get_output_int(static_cast<int32_t>(g)) != 0) bits[g / 64] |= uint64_t{1} << (g % 64);
            }))
            fault(sig);
    }
    outcome_.status = outcome_.mismatches ? CaseStatus::failed : CaseStatus::passed;
    outcome_.seconds = static_cast<float>(seconds);
    // Only the case's own process finishes it: a copy that ran it to its end
    // says nothing, and the case ends as its own process does.
    if (g_copy) _exit(0);
    ledger_.finish(lane_, outcome_);
}

// One armed call per step: its inputs, the step, then (exact_) the goals
// it may have raised, read before any host code looks at them. Returns the
// signal that ended the step, or 0.
int Worker::run_step(const PlanStep& st) {
    ledger_.step(lane_, step_);
    return guarded([&] {
        drive_.step(plan_, st);
        if (exact_) read_watched();
    });
}

// The state at load, in snapshot isolation: the library's data and the
// process state a case may have changed.
void Worker::restore() {
    process_.restore();
    snapshot_->restore();
}

// Runs the first `steps` steps of case c again from the snapshot, recording
// the goals each reaches first; returns the signal that ended a step, or 0.
int Worker::rerun_reading(int64_t c, uint32_t steps) {
    restore();
    exact_ = true;
    const PlanCase& pc = plan_.cases[c];
    for (uint32_t s = 0; s < steps; ++s) {
        step_ = static_cast<int32_t>(s);
        if (const int sig = run_step(plan_.steps[pc.first_step + s])) return sig;
        record_reached(c, step_);
    }
    return 0;
}

// Finds the watched goals the library reports as reached; a goal is rarely
// reached, so only their positions in watch_ are kept (ascending).
void Worker::read_watched() {
    n_hits_ = 0;
    for (std::size_t i = 0; i < watch_.size(); ++i)
        if (drive_.reached(watch_[i])) hits_[n_hits_++] = static_cast<uint32_t>(i);
}

// Records what read_watched found and stops watching it; from the last hit
// down, so moving the last watched goal into a hit's place moves none unseen.
void Worker::record_reached(int64_t c, int32_t step) {
    for (std::size_t k = n_hits_; k-- > 0;) {
        const uint32_t i = hits_[k];
        shared_.reached(watch_[i], reach_code(c, step));
        watch_[i] = watch_.back();
        watch_.pop_back();
    }
    n_hits_ = 0;
}

// Every goal's value into values_.
void Worker::read_goals() {
    if (int sig = guarded([&] {
            for (std::size_t g = 0; g < values_.size(); ++g)
                values_[g] = api_.kiv_dll_get_output_int(static_cast<int32_t>(g));
        }))
        fault(sig);
}

// Runs the case in this fresh process, restores, runs it again and compares:
// a library that keeps state outside its data segments (on the heap, say)
// would make restored cases differ from fresh ones.
void Worker::check_case(int64_t c) {
    checking_ = true;
    uint64_t fresh_hash = 0, restored_hash = 0;
    run_case(c, true, &fresh_hash);
    read_goals();
    const std::vector<int64_t> fresh = values_;
    restore();
    second_run_ = true;
    run_case(c, false, &restored_hash);
    read_goals();
    second_run_ = checking_ = false;
    const auto& goals = target_.schema().goals;
    for (std::size_t g = 0; g < fresh.size(); ++g)
        if (fresh[g] != values_[g])
            refuse(("goal ID " + std::to_string(goals[g].id) + " reads " + std::to_string(fresh[g]) +
                    " after the case ran in a fresh process, " + std::to_string(values_[g]) + " after a restore")
                       .c_str());
    if (fresh_hash != restored_hash) refuse("its outputs differ between a fresh process and a restore");
    shared_.header().check.store(check_passed);
}

void Worker::refuse(const char* why) {
    SharedHeader& hdr = shared_.header();
    std::snprintf(hdr.refusal, sizeof hdr.refusal,
                  "snapshot isolation refused: case '%s' gives different results when run after restoring the "
                  "library's data: %s. The library keeps state outside its writable segments; use --isolation fork.",
                  plan_.cases[case_].name.c_str(), why);
    hdr.check.store(check_refused);
    _exit(4);
}

// After a fault or a hung step: the exception entry raises the goals reached
// so far (if the library still can), then the case is reported and the
// process ends, since the library's state may now be anything. The heap may
// be broken too: nothing from here on allocates.
void Worker::fault(int sig) {
    unblock_handled_signals();
    ledger_.step(lane_, step_);  // a new token: the exception entry gets a timeout of its own
    const bool kept = guarded([&] {
        api_.kiv_dll_exception();
        if (!second_run_) read_watched();
    }) == 0;
    if (kept && !second_run_ && !exact_ && n_hits_ > 0) {
        // Read only now: the goals reached before the faulting step are
        // found by running those steps again from the snapshot; the rest
        // were first reached by the faulting step or the exception entry.
        std::size_t n = 0;
        for (std::size_t k = 0; k < n_hits_; ++k)
            fault_hits_[n++] = watch_[hits_[k]];
        n_hits_ = 0;
        const int32_t fault_step = step_;
        rerun_reading(case_, static_cast<uint32_t>(fault_step));  // a fault there only ends it early
        step_ = fault_step;
        const auto first = fault_hits_.begin(), last = first + static_cast<std::ptrdiff_t>(n);
        for (std::size_t i = 0; i < watch_.size(); ++i)
            if (std::find(first, last, watch_[i]) != last) hits_[n_hits_++] = static_cast<uint32_t>(i);
    }
    if (kept && !second_run_) record_reached(case_, step_);
    if (second_run_) {
        char why[128];
        std::snprintf(why, sizeof why, "it ended with %s after a restore, but not in a fresh process",
                      fault_text(sig));
        refuse(why);
    }
    if (checking_) shared_.header().check.store(check_pending);  // the next worker checks its first case
    outcome_.status = sig == kTimeoutSignal ? CaseStatus::timed_out : CaseStatus::crashed;
    outcome_.fault_step = step_;
    outcome_.signal = sig == kTimeoutSignal ? 0 : sig;
    outcome_.goals_kept = kept;
    outcome_.seconds = static_cast<float>(now() - case_started_);
    if (g_copy) _exit(3);
    ledger_.finish(lane_, outcome_);
    _exit(3);
}

}  // namespace kiv::detail
