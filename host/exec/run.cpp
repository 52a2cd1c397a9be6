// The parent of a run: starts workers, replaces those that die, stops hung
// steps, and gathers the results from shared memory.
#include "exec/run.h"

#include "exec/channel.h"
#include "exec/shared_state.h"
#include "exec/worker.h"

#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

namespace kiv {
namespace detail {

namespace {
std::size_t align64(std::size_t n) {
    return (n + 63) & ~std::size_t{63};
}
}  // namespace

SharedState::SharedState(std::size_t cases, std::size_t goals, std::size_t lanes, bool case_goals)
    : n_cases_(cases), n_goals_(goals), n_lanes_(lanes) {
    const std::size_t ledger_at = align64(sizeof(SharedHeader));
    const std::size_t lanes_at = ledger_at + align64(sizeof(Ledger));
    const std::size_t cases_at = lanes_at + align64(lanes * sizeof(LedgerLane));
    const std::size_t reach_at = cases_at + align64(cases * sizeof(LedgerCase));
    const std::size_t counts_at = reach_at + align64(goals * sizeof(std::atomic<uint64_t>));
    const std::size_t goals_at = counts_at + align64(goals * sizeof(std::atomic<uint64_t>));
    block_.emplace(goals_at + (case_goals ? cases * words() * sizeof(uint64_t) : 0), "cannot map memory for the results");
    char* b = block_->data();
    header_ = new (b) SharedHeader{};
    ledger_ = new (b + ledger_at) Ledger(reinterpret_cast<LedgerCase*>(b + cases_at), cases,
                                         reinterpret_cast<LedgerLane*>(b + lanes_at), lanes);
    reach_ = reinterpret_cast<std::atomic<uint64_t>*>(b + reach_at);
    for (std::size_t i = 0; i < goals; ++i)
        new (&reach_[i]) std::atomic<uint64_t>(kNotReached);
    counts_ = reinterpret_cast<std::atomic<uint64_t>*>(b + counts_at);
    for (std::size_t i = 0; i < goals; ++i)
        new (&counts_[i]) std::atomic<uint64_t>(0);
    if (case_goals) case_goals_ = reinterpret_cast<uint64_t*>(b + goals_at);  // zero, as mapped
}

namespace {

using Clock = std::chrono::steady_clock;

struct LaneWatch {  // the parent's view of one worker slot
    std::optional<Child> child;  // empty: no worker in the slot
    ProgressWatch progress;
};

class Supervisor {
public:
    Supervisor(const Target& target, const Plan& plan, const RunOptions& options)
        : plan_(plan),
          options_(options),
          shared_(plan.cases.size(), target.schema().goals.size(), static_cast<std::size_t>(options.workers),
                  options.case_goals),
          ledger_(shared_.ledger()),
          lanes_(static_cast<std::size_t>(options.workers)) {
        for (auto& l : lanes_)
            l.progress = ProgressWatch(options.step_timeout);
        ledger_.set_fail_fast(options.fail_fast);
        if (options.isolation == Isolation::snapshot) snapshot_.take(target.library().writable());
        for (std::size_t i = 0; i < lanes_.size(); ++i)
            workers_.push_back(std::make_unique<Worker>(
                target, plan, shared_, i, options.isolation == Isolation::snapshot ? &snapshot_ : nullptr));
        const double t = options.step_timeout;
        poll_ =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::clamp(t / 8, 0.001, 0.05)));
    }

    RunResult run() {
        // SIGCHLD is blocked only to be waited for; what the process does
        // with it otherwise stays as it was.
        sigset_t chld, old;
        sigemptyset(&chld);
        sigaddset(&chld, SIGCHLD);
        sigprocmask(SIG_BLOCK, &chld, &old);
        old_mask_ = old;
        const auto start = Clock::now();
        try {
            loop();
        } catch (...) {
            stop_all();
            sigprocmask(SIG_SETMASK, &old, nullptr);
            throw;
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        if (options_.progress) std::printf("\r\033[K"), std::fflush(stdout);
        RunResult r;
        r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        r.stopped = stopped_;
        if (r.stopped.empty() && ledger_.closed()) r.stopped = "--fail-fast: a case did not pass";
        for (std::size_t c = 0; c < shared_.cases(); ++c)
            r.cases.push_back(ledger_.result(static_cast<int64_t>(c)));
        for (std::size_t g = 0; g < shared_.goals(); ++g) {
            const uint64_t code = shared_.reach(g).load();
            if (code == kNotReached)
                r.goals.push_back({});
            else
                r.goals.push_back({static_cast<int64_t>(code >> kStepBits),
                                   static_cast<int32_t>(code & ((uint64_t{1} << kStepBits) - 1))});
            r.goals.back().count = shared_.counted(g);
        }
        if (shared_.case_goals(0))
            for (std::size_t c = 0; c < shared_.cases(); ++c) {
                const CaseStatus st = r.cases[c].status;
                const uint64_t* bits = shared_.case_goals(c);
                r.case_goals.push_back(st == CaseStatus::passed || st == CaseStatus::failed
                                           ? std::vector<uint64_t>(bits, bits + shared_.words())
                                           : std::vector<uint64_t>{});
            }
        return r;
    }

private:
    void loop() {
        SharedHeader& hdr = shared_.header();
        const auto n = static_cast<int64_t>(plan_.cases.size());
        auto next_progress = Clock::now() + std::chrono::milliseconds(200);
        for (;;) {
            if (hdr.check.load() == check_refused) throw SnapshotRefused(hdr.refusal);
            // Until the snapshot check has passed, one worker runs alone.
            const bool checked = options_.isolation == Isolation::fork || hdr.check.load() == check_passed;
            const std::size_t want = checked ? lanes_.size() : 1;
            if (stopped_.empty() && alive() < want && ledger_.any_open())
                for (std::size_t i = 0; i < lanes_.size() && alive() < want; ++i)
                    if (!lanes_[i].child) spawn(i);
            if (!alive()) break;
            wait_for_children();
            watch_timeouts();
            if (options_.progress && Clock::now() >= next_progress) {
                std::printf("\r  %llu/%lld cases", static_cast<unsigned long long>(ledger_.finished()),
                            static_cast<long long>(n));
                std::fflush(stdout);
                next_progress = Clock::now() + std::chrono::milliseconds(200);
            }
        }
        if (hdr.check.load() == check_refused) throw SnapshotRefused(hdr.refusal);
    }

    std::size_t alive() const {
        std::size_t k = 0;
        for (const auto& l : lanes_)
            k += l.child.has_value();
        return k;
    }

    // Starts a worker in lane i. Whatever the ledger records for the lane from
    // here on is the child's: it may run cases before fork() has returned here.
    void spawn(std::size_t i) {
        LaneWatch& w = lanes_[i];
        w.progress.reset(ledger_.token(i));
        // The child starts with the timeout signal blocked, so one that comes
        // before its handler is in place waits for it instead of killing it.
        sigset_t usr2, mask = old_mask_;
        sigemptyset(&usr2);
        sigaddset(&usr2, kTimeoutSignal);
        sigaddset(&mask, kTimeoutSignal);
        sigset_t parent_mask;
        sigprocmask(SIG_BLOCK, &usr2, &parent_mask);
        ChildOptions co;
        co.pipe = false;
        co.mask = &mask;
        try {
            w.child.emplace("cannot start a worker process", [this, i](int) { workers_[i]->main(); }, co);
        } catch (...) {
            sigprocmask(SIG_SETMASK, &parent_mask, nullptr);
            throw;
        }
        sigprocmask(SIG_SETMASK, &parent_mask, nullptr);
    }

    // Sleeps until a child changes state or a poll period passes, then reaps
    // the workers that ended; other children of the process are not ours to wait for.
    void wait_for_children() {
        sigset_t chld;
        sigemptyset(&chld);
        sigaddset(&chld, SIGCHLD);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(poll_).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        sigtimedwait(&chld, nullptr, &ts);
        for (std::size_t i = 0; i < lanes_.size(); ++i) {
            int status = 0;
            if (lanes_[i].child && lanes_[i].child->try_wait(status)) reaped(i, status);
        }
    }

    // A worker ended: the ledger settles what it left unfinished.
    void reaped(std::size_t i, int status) {
        LaneWatch& w = lanes_[i];
        const bool started = ledger_.busy(i);
        ledger_.abandon(i, WIFSIGNALED(status) ? WTERMSIG(status) : 0, w.progress.timed_out_token());
        if (shared_.header().check.load() == check_running) shared_.header().check.store(check_pending);
        w.child.reset();
        const bool clean = exited_cleanly(status);
        failed_starts_ = started || clean ? 0 : failed_starts_ + 1;
        if (failed_starts_ > 3)  // the cases left are reported as not run
            stopped_ = "worker processes die before running any case (" + describe_exit(status) + ")";
    }

    void watch_timeouts() {
        const auto now = Clock::now();
        for (std::size_t i = 0; i < lanes_.size(); ++i) {
            LaneWatch& w = lanes_[i];
            if (!w.child) continue;
            const uint64_t token = ledger_.token(i);
            // Progress is noted idle or busy; only a busy lane can time out.
            if (token == w.progress.token() && !ledger_.busy(i)) continue;
            switch (w.progress.check(token, now)) {
                case ProgressWatch::Due::timed_out: w.child->signal_timeout(kTimeoutSignal, token); break;
                case ProgressWatch::Due::kill: w.child->kill(); break;
                case ProgressWatch::Due::nothing: break;
            }
        }
    }

    void stop_all() {
        for (auto& w : lanes_)
            w.child.reset();  // killed and reaped
    }

    const Plan& plan_;
    const RunOptions& options_;
    SharedState shared_;
    Ledger& ledger_;
    std::vector<LaneWatch> lanes_;
    Snapshot snapshot_;  // the library's data as loaded; the parent never steps it
    std::vector<std::unique_ptr<Worker>> workers_;
    sigset_t old_mask_{};
    Clock::duration poll_{};
    int failed_starts_ = 0;  // workers in a row that died before starting a case
    std::string stopped_;
};

}  // namespace
}  // namespace detail

RunResult run(const Target& target, const Plan& plan, const RunOptions& options) {
    if (options.workers < 1) throw Error("the number of workers must be at least 1");
    if (options.workers > 4096) throw Error("the number of workers must be at most 4096");  // the ledger keeps lanes in 24 bits
    if (!(options.step_timeout > 0) || !std::isfinite(options.step_timeout))
        throw Error("the step timeout must be a positive number of seconds");
    for (const auto& c : plan.cases)
        if (c.n_steps >= (1u << detail::kStepBits)) throw Error("case '" + c.name + "' has too many steps");
    // Heap pages freed since loading (the suite's text and cells) would
    // otherwise be copied into every forked worker's page tables.
    malloc_trim(0);
    return detail::Supervisor(target, plan, options).run();
}

}  // namespace kiv
