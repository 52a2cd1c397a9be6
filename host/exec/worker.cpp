// The worker's case loop, its fault handling and the snapshot check.
#include "worker.h"

#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kiv::detail {

namespace {

sigjmp_buf g_jump;
volatile sig_atomic_t g_armed = 0;  // 1 while the library runs on our behalf

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
constexpr int kTimeoutSignal = SIGUSR2;  // the parent's "this step has taken too long"

extern "C" void on_signal(int sig) {
    if (g_armed) {
        g_armed = 0;
        siglongjmp(g_jump, sig);
    }
    if (sig == kTimeoutSignal) return;  // the step ended as the parent gave up on it
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

struct SavedSignals {
    struct sigaction actions[std::size(kFaultSignals) + 1];
    stack_t alt;
};
SavedSignals g_saved;

}  // namespace

WorkerSignals::WorkerSignals() : alt_stack_(1 << 16) {  // large enough for a stack overflow's fault
    stack_t ss{};
    ss.ss_sp = alt_stack_.data();
    ss.ss_size = alt_stack_.size();
    sigaltstack(&ss, &g_saved.alt);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    std::size_t i = 0;
    for (int s : kFaultSignals)
        sigaction(s, &sa, &g_saved.actions[i++]);
    sigaction(kTimeoutSignal, &sa, &g_saved.actions[i]);
}

WorkerSignals::~WorkerSignals() {
    std::size_t i = 0;
    for (int s : kFaultSignals)
        sigaction(s, &g_saved.actions[i++], nullptr);
    sigaction(kTimeoutSignal, &g_saved.actions[i], nullptr);
    sigaltstack(&g_saved.alt, nullptr);
}

Worker::Worker(const Target& target, const Plan& plan, SharedState& shared, std::size_t lane, const Snapshot* snapshot)
    : target_(target),
      plan_(plan),
      api_(target.library().api()),
      shared_(shared),
      lane_(shared.lane(lane)),
      snapshot_(snapshot) {
    for (const auto& o : target.schema().outputs)
        outputs_.push_back(o.address);
    for (std::size_t g = 0; g < shared.goals(); ++g)
        watch_.push_back(static_cast<int32_t>(g));
    beat_ = lane_.beat.load(std::memory_order_relaxed);
}

void Worker::main() {
    unblock_handled_signals();
    SharedHeader& hdr = shared_.header();
    const auto n = static_cast<int64_t>(plan_.cases.size());
    // Cases are claimed a few at a time, in plan order: one shared counter
    // touched per chunk, and neighbouring results written by one process.
    const int64_t chunk = snapshot_ ? std::clamp<int64_t>(n / (64 * static_cast<int64_t>(shared_.lanes())), 1, 256) : 1;
    int64_t next = lane_.resume_next.load(), end = lane_.resume_end.load();
    lane_.claim_end.store(end);
    for (;;) {
        if (next >= end) {
            next = hdr.next_case.fetch_add(chunk);
            end = std::min(next + chunk, n);
            if (next >= n) break;
            lane_.claim_end.store(end);
        }
        const int64_t c = next++;
        case_ = c;
        lane_.case_index.store(c);
        if (int sig = sigsetjmp(g_jump, 0)) fault(sig);
        uint32_t pending = check_pending;
        if (snapshot_ && hdr.check.compare_exchange_strong(pending, check_running))
            check_case(c);
        else
            run_case(c, true, nullptr);
        beat();
        hdr.finished.fetch_add(1, std::memory_order_relaxed);
        if (!snapshot_) break;  // fork isolation: one case per process
        snapshot_->restore();
    }
    lane_.case_index.store(-1);
    _exit(0);
}

void Worker::run_case(int64_t c, bool record, uint64_t* output_hash) {
    const PlanCase& pc = plan_.cases[c];
    outcome_ = CaseOutcome{};
    if (record) {
        shared_.result(c).status.store(static_cast<uint32_t>(CaseStatus::running), std::memory_order_relaxed);
        std::erase_if(watch_,
                      [&](int32_t g) { return shared_.reach(g).load(std::memory_order_relaxed) < reach_code(c, 0); });
    }
    g_armed = 1;
    for (uint32_t s = 0; s < pc.n_steps; ++s) {
        const PlanStep& st = plan_.steps[pc.first_step + s];
        step_ = static_cast<int32_t>(s);
        lane_.step.store(step_, std::memory_order_relaxed);
        beat();
        for (uint32_t i = st.first_input; i < st.first_input + st.n_inputs; ++i)
            api_.kiv_dll_set_input_int(plan_.inputs[i].index, plan_.inputs[i].value);
        *api_.KIV_SCOPE_UID = st.scope;
        api_.kiv_dll_step();
        for (uint32_t e = st.first_expect; e < st.first_expect + st.n_expects; ++e) {
            const PlanExpect& x = plan_.expects[e];
            const uint8_t actual = *outputs_[x.output];
            ++outcome_.checks;
            if (!accepts(plan_, x, actual) && outcome_.mismatches++ == 0) {
                outcome_.mismatch_step = step_;
                outcome_.mismatch_output = x.output;
                outcome_.expected = x.value;
                outcome_.actual = actual;
            }
        }
        if (record) scan_goals(c, step_);
        if (output_hash)
            for (auto* o : outputs_)
                if (o) *output_hash = *output_hash * 131 + *o + 1;
    }
    g_armed = 0;
    if (record) publish(c, outcome_.mismatches ? CaseStatus::failed : CaseStatus::passed);
}

// Records every watched goal the library now reports as reached.
void Worker::scan_goals(int64_t c, int32_t step) {
    for (std::size_t i = 0; i < watch_.size();) {
        if (api_.kiv_dll_get_output_int(watch_[i]) != 0) {
            shared_.reached(watch_[i], reach_code(c, step));
            watch_[i] = watch_.back();
            watch_.pop_back();
        } else {
            ++i;
        }
    }
}

std::vector<int64_t> Worker::goal_vector() const {
    std::vector<int64_t> v(shared_.goals());
    g_armed = 1;
    for (std::size_t g = 0; g < v.size(); ++g)
        v[g] = api_.kiv_dll_get_output_int(static_cast<int32_t>(g));
    g_armed = 0;
    return v;
}

void Worker::publish(int64_t c, CaseStatus status) {
    SharedCase& r = shared_.result(c);
    r.outcome = outcome_;
    r.outcome.status = status;
    r.status.store(static_cast<uint32_t>(status), std::memory_order_release);
}

// Runs the case in this fresh process, restores, runs it again and compares:
// a library that keeps state outside its data segments (on the heap, say)
// would make restored cases differ from fresh ones.
void Worker::check_case(int64_t c) {
    checking_ = true;
    uint64_t fresh_hash = 0, restored_hash = 0;
    run_case(c, true, &fresh_hash);
    const auto fresh = goal_vector();
    snapshot_->restore();
    second_run_ = true;
    run_case(c, false, &restored_hash);
    const auto restored = goal_vector();
    second_run_ = checking_ = false;
    const auto& goals = target_.schema().goals;
    for (std::size_t g = 0; g < fresh.size(); ++g)
        if (fresh[g] != restored[g])
            refuse("goal ID " + std::to_string(goals[g].id) + " reads " + std::to_string(fresh[g]) +
                   " after the case ran in a fresh process, " + std::to_string(restored[g]) + " after a restore");
    if (fresh_hash != restored_hash) refuse("its outputs differ between a fresh process and a restore");
    shared_.header().check.store(check_passed);
}

void Worker::refuse(const std::string& why) {
    SharedHeader& hdr = shared_.header();
    std::snprintf(hdr.refusal, sizeof hdr.refusal,
                  "snapshot isolation refused: case '%s' gives different results when run after restoring the "
                  "library's data: %s. The library keeps state outside its writable segments; use --isolation fork.",
                  plan_.cases[case_].name.c_str(), why.c_str());
    hdr.check.store(check_refused);
    _exit(4);
}

// After a fault or a hung step: the exception entry raises the goals reached
// so far (if the library still can), then the case is reported and the
// process ends, since the library's state may now be anything.
void Worker::fault(int sig) {
    unblock_handled_signals();
    volatile bool kept = false;
    beat();
    if (sigsetjmp(g_jump, 0) == 0) {
        g_armed = 1;
        api_.kiv_dll_exception();
        if (!second_run_) scan_goals(case_, step_);
        g_armed = 0;
        kept = true;
    }
    g_armed = 0;
    if (second_run_)
        refuse(std::string("it ended with ") + (sig == kTimeoutSignal ? "a timeout" : strsignal(sig)) +
               " after a restore, but not in a fresh process");
    if (checking_) shared_.header().check.store(check_pending);  // the next worker checks its first case
    outcome_.fault_step = step_;
    outcome_.signal = sig == kTimeoutSignal ? 0 : sig;
    outcome_.goals_kept = kept;
    publish(case_, sig == kTimeoutSignal ? CaseStatus::timed_out : CaseStatus::crashed);
    shared_.header().finished.fetch_add(1, std::memory_order_relaxed);
    _exit(3);
}

}  // namespace kiv::detail
