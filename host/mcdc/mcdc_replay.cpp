// The MC/DC replay: a child steps the cases again with the watched records'
// flags cleared around each step and sends one message per step through a
// pipe; the parent gathers them and survives a child that dies or hangs.
#include "mcdc_replay.h"

#include "error.h"
#include "instrumentation/probe_records.h"
#include "snapshot.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>

namespace kiv::mcdc {

namespace {

constexpr std::size_t kDcFalse = offsetof(IXA_DC_RECORD, falseSeen), kDcTrue = offsetof(IXA_DC_RECORD, trueSeen);
constexpr std::size_t kCcFalse = offsetof(IXA_CC_RECORD, falseSeen), kCcTrue = offsetof(IXA_CC_RECORD, trueSeen);

enum Status : uint8_t { not_evaluated, once, repeated };

// Steps of case c to replay: those before its fault, none when it did not run.
uint32_t steps_to_replay(const Plan& plan, const RunResult& run, std::size_t c) {
    const CaseOutcome& o = run.cases[c];
    switch (o.status) {
        case CaseStatus::passed:
        case CaseStatus::failed: return plan.cases[c].n_steps;
        case CaseStatus::crashed:
        case CaseStatus::timed_out: return static_cast<uint32_t>(std::max(o.fault_step, 0));
        default: return 0;
    }
}

std::size_t message_size(const std::vector<Watched>& watched) {
    std::size_t n = sizeof(int64_t) + sizeof(int32_t);
    for (const auto& w : watched)
        n += 2 + std::max<std::size_t>(w.conditions.size(), 1);
    return n;
}

// One flag pair of a record: cleared before a step, read and merged back after it.
struct FlagPair {
    volatile uint8_t* f;
    volatile uint8_t* t;
    uint8_t old_f = 0, old_t = 0, new_f = 0, new_t = 0;
    void clear() {
        old_f = *f;
        old_t = *t;
        *f = 0;
        *t = 0;
    }
    // The record ends as if never cleared: flags only ever go from 0 to 1.
    void collect() {
        new_f = *f;
        new_t = *t;
        *f = static_cast<uint8_t>(old_f | new_f);
        *t = static_cast<uint8_t>(old_t | new_t);
    }
    char value() const { return new_t && !new_f ? 'T' : new_f && !new_t ? 'F' : '-'; }
};

// snapshot: restored before each case; null: this process runs one case only.
[[noreturn]] void child(const Target& target, const Plan& plan, const RunResult& run,
                        const std::vector<Watched>& watched, const Snapshot* snapshot, std::size_t from, int fd) {
    const Exports& api = target.library().api();
    std::vector<FlagPair> decisions;
    std::vector<std::vector<FlagPair>> conditions;
    for (const auto& w : watched) {
        decisions.push_back({w.decision + kDcFalse, w.decision + kDcTrue});
        conditions.emplace_back();
        for (auto* c : w.conditions)
            conditions.back().push_back({c + kCcFalse, c + kCcTrue});
    }
    std::vector<char> msg(message_size(watched));
    for (std::size_t c = from; c < plan.cases.size(); ++c) {
        const uint32_t n = steps_to_replay(plan, run, c);
        if (!n) continue;
        if (!snapshot && c > from) break;
        if (snapshot) snapshot->restore();
        const PlanCase& pc = plan.cases[c];
        for (uint32_t s = 0; s < n; ++s) {
            for (std::size_t d = 0; d < decisions.size(); ++d) {
                decisions[d].clear();
                for (auto& f : conditions[d])
                    f.clear();
            }
            const PlanStep& st = plan.steps[pc.first_step + s];
            for (uint32_t i = st.first_input; i < st.first_input + st.n_inputs; ++i)
                api.kiv_dll_set_input_int(plan.inputs[i].index, plan.inputs[i].value);
            *api.KIV_SCOPE_UID = st.scope;
            api.kiv_dll_step();
            const auto ci = static_cast<int64_t>(c);
            const auto si = static_cast<int32_t>(s);
            std::memcpy(msg.data(), &ci, sizeof ci);
            std::memcpy(msg.data() + sizeof ci, &si, sizeof si);
            char* at = msg.data() + sizeof ci + sizeof si;
            for (std::size_t d = 0; d < decisions.size(); ++d) {
                FlagPair& dec = decisions[d];
                dec.collect();
                for (auto& f : conditions[d])
                    f.collect();
                // Two evaluations with different vectors always differ in a
                // condition both evaluated (the first where they part), so a
                // condition or the decision with both flags set is the only
                // sign of more than one vector in the step.
                Status status = !dec.new_f && !dec.new_t ? not_evaluated : dec.new_f && dec.new_t ? repeated : once;
                for (const auto& f : conditions[d])
                    if (status == once && f.new_f && f.new_t) status = repeated;
                at[0] = static_cast<char>(status);
                at[1] = dec.value() == 'T';
                if (conditions[d].empty())
                    at[2] = dec.value();
                else
                    for (std::size_t k = 0; k < conditions[d].size(); ++k)
                        at[2 + k] = conditions[d][k].value();
                at += 2 + std::max<std::size_t>(conditions[d].size(), 1);
            }
            for (std::size_t off = 0; off < msg.size();) {
                const ssize_t w = write(fd, msg.data() + off, msg.size() - off);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) _exit(1);
                off += static_cast<std::size_t>(w);
            }
        }
    }
    _exit(0);
}

class Gatherer {
public:
    Gatherer(const Plan& plan, const RunResult& run, const std::vector<Watched>& watched) : watched_(watched) {
        out_.seen.resize(watched.size());
        out_.first_seen.resize(watched.size());
        out_.vectors.resize(watched.size());
        out_.repeated.resize(watched.size());
        index_.resize(watched.size());
        for (std::size_t c = 0; c < plan.cases.size(); ++c)
            out_.not_replayed += plan.cases[c].n_steps - steps_to_replay(plan, run, c);
    }

    // One step's message; false when it is not the step the schedule expects.
    bool take(const char* msg, std::size_t c, uint32_t s) {
        int64_t ci;
        int32_t si;
        std::memcpy(&ci, msg, sizeof ci);
        std::memcpy(&si, msg + sizeof ci, sizeof si);
        if (ci != static_cast<int64_t>(c) || si != static_cast<int32_t>(s)) return false;
        const char* at = msg + sizeof ci + sizeof si;
        ++out_.steps;
        for (std::size_t d = 0; d < watched_.size(); ++d) {
            const std::size_t n = std::max<std::size_t>(watched_[d].conditions.size(), 1);
            if (at[0] == repeated) ++out_.repeated[d];
            if (at[0] == once) {
                ++out_.vectors[d];
                Vector v{std::string(at + 2, n), at[1] != 0};
                if (index_[d].emplace(v, out_.seen[d].size()).second) {
                    out_.seen[d].push_back(std::move(v));
                    out_.first_seen[d].push_back({ci, si + 1});
                }
            }
            at += 2 + n;
        }
        return true;
    }

    void lost(uint64_t steps) { out_.not_replayed += steps; }
    Observations result() { return std::move(out_); }

private:
    const std::vector<Watched>& watched_;
    std::vector<std::map<Vector, std::size_t>> index_;
    Observations out_;
};

// Reads exactly n bytes unless the child ends or stays silent past the timeout.
enum class Read { ok, ended, silent };
Read read_message(int fd, char* buf, std::size_t n, int timeout_ms) {
    for (std::size_t got = 0; got < n;) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, timeout_ms);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) return Read::silent;
        const ssize_t k = read(fd, buf + got, n - got);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return Read::ended;
        got += static_cast<std::size_t>(k);
    }
    return Read::ok;
}

}  // namespace

Observations replay(const Target& target, const Plan& plan, const RunResult& run, const std::vector<Watched>& watched,
                    Isolation isolation, double step_timeout) {
    Snapshot snapshot;
    if (isolation == Isolation::snapshot) snapshot.take(target.library().writable());
    Gatherer gather(plan, run, watched);
    std::vector<char> msg(message_size(watched));
    // A step is given its timeout and the same grace the workers get.
    const int timeout_ms = static_cast<int>(step_timeout * 1000) + 500;
    std::size_t c = 0;
    uint32_t s = 0;
    auto skip_empty = [&] {
        while (c < plan.cases.size() && s >= steps_to_replay(plan, run, c))
            ++c, s = 0;
    };
    skip_empty();
    while (c < plan.cases.size()) {
        const std::size_t start = c;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) throw Error(std::string("--mcdc: cannot start the replay: ") + std::strerror(errno));
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid < 0) throw Error(std::string("--mcdc: cannot start the replay: ") + std::strerror(errno));
        if (pid == 0) {
            close(fds[0]);
            signal(SIGPIPE, SIG_DFL);
            child(target, plan, run, watched, isolation == Isolation::snapshot ? &snapshot : nullptr, c, fds[1]);
        }
        close(fds[1]);
        Read r = Read::ok;
        while (c < plan.cases.size() && (r = read_message(fds[0], msg.data(), msg.size(), timeout_ms)) == Read::ok) {
            if (!gather.take(msg.data(), c, s)) {
                r = Read::ended;  // out of step with the schedule: trust nothing more from this child
                break;
            }
            ++s;
            skip_empty();
        }
        if (r == Read::silent) kill(pid, SIGKILL);
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        // A child that ran its cases to the end and exited; else it died or
        // hung in case c, and the rest of that case is lost.
        const bool done = r == Read::ended && WIFEXITED(status) && WEXITSTATUS(status) == 0 && s == 0 && c > start;
        if (c < plan.cases.size() && !done) {
            gather.lost(steps_to_replay(plan, run, c) - s);
            ++c, s = 0;
            skip_empty();
        }
    }
    return gather.result();
}

}  // namespace kiv::mcdc
