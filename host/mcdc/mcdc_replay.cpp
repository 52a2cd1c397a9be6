// The MC/DC replay: a child steps the cases again with the watched records'
// flags cleared around each step and sends one message per step through a
// pipe; the parent gathers them and survives a child that dies or hangs.
#include "mcdc/mcdc_replay.h"

#include "error.h"
#include "exec/channel.h"
#include "exec/snapshot.h"
#include "exec/step.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

namespace kiv::mcdc {

namespace {

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

// snapshot: restored before each case; null: this process runs one case only.
void child(const Target& target, const Plan& plan, const RunResult& run, const std::vector<Watched>& watched,
           const Snapshot* snapshot, std::size_t from, int fd) {
    const StepDriver drive(target);
    StepFlags flags(watched);
    std::vector<char> msg(message_size(watched));
    FrameWriter frame('V');
    for (std::size_t c = from; c < plan.cases.size(); ++c) {
        const uint32_t n = steps_to_replay(plan, run, c);
        if (!n) continue;
        if (!snapshot && c > from) break;
        if (snapshot) snapshot->restore();
        const PlanCase& pc = plan.cases[c];
        for (uint32_t s = 0; s < n; ++s) {
            flags.before();
            drive.step(plan, plan.steps[pc.first_step + s]);
            const auto ci = static_cast<int64_t>(c);
            const auto si = static_cast<int32_t>(s);
            std::memcpy(msg.data(), &ci, sizeof ci);
            std::memcpy(msg.data() + sizeof ci, &si, sizeof si);
            char* at = msg.data() + sizeof ci + sizeof si;
            flags.after();
            for (std::size_t d = 0; d < flags.size(); ++d) {
                at[0] = static_cast<char>(flags.status(d));
                at[1] = flags.outcome(d);
                for (std::size_t k = 0; k < flags.width(d); ++k)
                    at[2 + k] = flags.value(d, k);
                at += 2 + flags.width(d);
            }
            frame.put_bytes(msg.data(), msg.size());
            frame.send(fd);
        }
    }
}

class Gatherer {
public:
    Gatherer(const Plan& plan, const RunResult& run, const std::vector<Watched>& watched)
        : watched_(watched), size_(message_size(watched)) {
        out_.seen.resize(watched.size());
        out_.first_seen.resize(watched.size());
        out_.vectors.resize(watched.size());
        out_.repeated.resize(watched.size());
        index_.resize(watched.size());
        for (std::size_t c = 0; c < plan.cases.size(); ++c)
            out_.not_replayed += plan.cases[c].n_steps - steps_to_replay(plan, run, c);
    }

    // One step's message; false when it is not the step the schedule expects.
    bool take(std::string_view payload, std::size_t c, uint32_t s) {
        if (payload.size() != size_) return false;
        const char* msg = payload.data();
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
    std::size_t size_;  // bytes of one step's message
    std::vector<std::map<Vector, std::size_t>> index_;
    Observations out_;
};

}  // namespace

Observations replay(const Target& target, const Plan& plan, const RunResult& run, const std::vector<Watched>& watched,
                    Isolation isolation, double step_timeout) {
    Snapshot snapshot;
    if (isolation == Isolation::snapshot) snapshot.take(target.library().writable());
    Gatherer gather(plan, run, watched);
    std::size_t c = 0;
    uint32_t s = 0;
    auto skip_empty = [&] {
        while (c < plan.cases.size() && s >= steps_to_replay(plan, run, c))
            ++c, s = 0;
    };
    skip_empty();
    ChildOptions co;
    co.step_timeout = step_timeout;
    while (c < plan.cases.size()) {
        const std::size_t start = c;
        Child ch(
            "--mcdc: cannot start the replay",
            [&](int fd) {
                child(target, plan, run, watched, isolation == Isolation::snapshot ? &snapshot : nullptr, c, fd);
            },
            co);
        Channel channel(ch);
        Channel::Got got = Channel::Got::frame;
        char tag = 0;
        std::string_view payload;
        while (c < plan.cases.size() && (got = channel.next(tag, payload)) == Channel::Got::frame) {
            if (tag != 'V' || !gather.take(payload, c, s)) {
                got = Channel::Got::ended;  // out of step with the schedule: trust nothing more from this child
                break;
            }
            ++s;
            skip_empty();
        }
        const int status = ch.wait();
        // A child that ran its cases to the end and exited; else it died or
        // hung in case c, and the rest of that case is lost.
        const bool done = got == Channel::Got::ended && exited_cleanly(status) && s == 0 && c > start;
        if (c < plan.cases.size() && !done) {
            gather.lost(steps_to_replay(plan, run, c) - s);
            ++c, s = 0;
            skip_empty();
        }
    }
    return gather.result();
}

}  // namespace kiv::mcdc
