// The replay child and the parent's reading of its outputs through a pipe.
#include "exec/replay.h"

#include "error.h"
#include "exec/child.h"
#include "exec/snapshot.h"
#include "exec/step.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kiv {

namespace {

bool write_all(int fd, const uint8_t* p, std::size_t n) {
    while (n) {
        const ssize_t k = write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k, n -= static_cast<std::size_t>(k);
    }
    return true;
}

void child(const Target& target, const Plan& plan, const std::vector<std::size_t>& cases, int fd) {
    const StepDriver drive(target);
    Snapshot at_load;
    at_load.take(target.library().writable());
    std::vector<uint64_t> values;
    for (std::size_t c : cases) {
        const PlanCase& pc = plan.cases[c];
        for (uint32_t s = 0; s < pc.n_steps; ++s) {
            drive.step(plan, plan.steps[pc.first_step + s]);
            drive.outputs(values);
            if (!write_all(fd, reinterpret_cast<const uint8_t*>(values.data()), values.size() * sizeof(uint64_t)))
                _exit(1);
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
    std::vector<uint64_t> values(target.schema().outputs.size());
    for (std::size_t c : cases) {
        const PlanCase& pc = plan.cases[c];
        for (uint32_t s = 0; s < pc.n_steps; ++s) {
            const Child::Read r = ch.read(values.data(), values.size() * sizeof(uint64_t));
            if (r == Child::Read::ok) {
                each_step(c, s, values);
                continue;
            }
            const int status = ch.wait();
            std::string failure = (r == Child::Read::timed_out ? "took longer than the step timeout" : "ended the replay") +
                                  std::string(" at step ") + std::to_string(s + 1) + " (line " +
                                  std::to_string(plan.steps[pc.first_step + s].line) + ")";
            if (WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL)
                failure += ": " + std::string(strsignal(WTERMSIG(status)));
            throw Error("replaying case '" + case_id(plan, pc) + "' to see its outputs: the library " + failure +
                        "; no outputs were recorded");
        }
    }
    const int status = ch.wait();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw Error("the replay of cases ended abnormally");
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
