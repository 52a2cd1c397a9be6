// The replay child and the parent's reading of its outputs through a pipe.
#include "exec/replay.h"

#include "error.h"
#include "exec/channel.h"
#include "exec/snapshot.h"
#include "exec/step.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace kiv {

namespace {

void child(const Target& target, const Plan& plan, const std::vector<std::size_t>& cases, int fd) {
    const StepDriver drive(target);
    Snapshot at_load;
    at_load.take(target.library().writable());
    std::vector<uint64_t> values;
    FrameWriter frame('O');
    for (std::size_t c : cases) {
        const PlanCase& pc = plan.cases[c];
        for (uint32_t s = 0; s < pc.n_steps; ++s) {
            drive.step(plan, plan.steps[pc.first_step + s]);
            drive.outputs(values);
            frame.put_bytes(values.data(), values.size() * sizeof(uint64_t));
            frame.send(fd);
        }
        at_load.restore();
    }
}

}  // namespace

void replay(const Target& target, const Plan& plan, const std::vector<std::size_t>& cases, double step_timeout,
            const StepOutputs& each_step) {
    ChildOptions co;
    co.step_timeout = step_timeout;
    Child ch("cannot replay cases", [&](int fd) { child(target, plan, cases, fd); }, co);
    Channel channel(ch);
    std::vector<uint64_t> values(target.schema().outputs.size());
    const std::size_t bytes = values.size() * sizeof(uint64_t);
    for (std::size_t c : cases) {
        const PlanCase& pc = plan.cases[c];
        for (uint32_t s = 0; s < pc.n_steps; ++s) {
            char tag = 0;
            std::string_view payload;
            Channel::Got got = channel.next(tag, payload);
            if (got == Channel::Got::frame && (tag != 'O' || payload.size() != bytes)) got = Channel::Got::ended;
            if (got == Channel::Got::frame) {
                if (bytes) std::memcpy(values.data(), payload.data(), bytes);
                each_step(c, s, values);
                continue;
            }
            const int status = ch.wait();
            std::string failure = (got == Channel::Got::timed_out ? "took longer than the step timeout" : "ended the replay") +
                                  std::string(" at step ") + std::to_string(s + 1) + " (line " +
                                  std::to_string(plan.steps[pc.first_step + s].line) + ")";
            if (WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL) failure += ": " + describe_exit(status);
            throw Error("replaying case '" + case_id(plan, pc) + "' to see its outputs: the library " + failure +
                        "; no outputs were recorded");
        }
    }
    const int status = ch.wait();
    if (!exited_cleanly(status)) throw Error("the replay of cases ended abnormally");
}

std::vector<std::vector<FailedCheck>> replay_failed_checks(const Target& target, const Plan& plan,
                                                           const std::vector<std::size_t>& cases, double step_timeout) {
    std::vector<std::vector<FailedCheck>> found(cases.size());
    std::size_t at = 0;  // the entry of `cases` being replayed
    replay(target, plan, cases, step_timeout, [&](std::size_t c, uint32_t s, const std::vector<uint64_t>& out) {
        while (cases[at] != c)
            ++at;
        const PlanStep& st = plan.steps[plan.cases[c].first_step + s];
        for (uint32_t e = st.first_expect; e < st.first_expect + st.n_expects; ++e)
            if (!accepts(plan, plan.expects[e], out[plan.expects[e].output]))
                found[at].push_back({s, e, out[plan.expects[e].output]});
    });
    return found;
}

}  // namespace kiv
