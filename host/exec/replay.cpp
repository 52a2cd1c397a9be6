// The replay child and the parent's reading of its outputs through a pipe.
#include "exec/replay.h"

#include "error.h"
#include "exec/snapshot.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
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

[[noreturn]] void child(const Target& target, const Plan& plan, const std::vector<std::size_t>& cases, int fd) {
    // A fault must end this process for the parent to see it, whatever
    // handlers the embedding program installed.
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS, SIGPIPE})
        signal(s, SIG_DFL);
    const Exports& api = target.library().api();
    const auto& outputs = target.schema().outputs;
    Snapshot at_load;
    at_load.take(target.library().writable());
    std::vector<uint8_t> values(outputs.size());
    for (std::size_t c : cases) {
        const PlanCase& pc = plan.cases[c];
        for (uint32_t s = 0; s < pc.n_steps; ++s) {
            const PlanStep& st = plan.steps[pc.first_step + s];
            for (uint32_t i = st.first_input; i < st.first_input + st.n_inputs; ++i)
                api.kiv_dll_set_input_int(plan.inputs[i].index, plan.inputs[i].value);
            *api.KIV_SCOPE_UID = st.scope;
            api.kiv_dll_step();
            for (std::size_t o = 0; o < outputs.size(); ++o)
                values[o] = outputs[o].address ? *outputs[o].address : 0;
            if (!write_all(fd, values.data(), values.size())) _exit(1);
        }
        at_load.restore();
    }
    _exit(0);
}

}  // namespace

void replay(const Target& target, const Plan& plan, const std::vector<std::size_t>& cases, double step_timeout,
            const StepOutputs& each_step) {
    int fds[2];
    if (pipe(fds) != 0) throw Error(std::string("cannot replay cases: pipe: ") + std::strerror(errno));
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]), close(fds[1]);
        throw Error(std::string("cannot replay cases: fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        close(fds[0]);
        child(target, plan, cases, fds[1]);
    }
    close(fds[1]);
    const std::size_t n = target.schema().outputs.size();
    std::vector<uint8_t> values(n);
    const int timeout_ms = static_cast<int>(std::ceil(step_timeout * 1000));
    std::string failure;
    for (std::size_t c : cases) {
        const PlanCase& pc = plan.cases[c];
        for (uint32_t s = 0; s < pc.n_steps && failure.empty(); ++s) {
            std::size_t got = 0;
            while (got < n) {
                pollfd p{fds[0], POLLIN, 0};
                const int ready = poll(&p, 1, timeout_ms);
                if (ready < 0 && errno == EINTR) continue;
                const ssize_t k = ready > 0 ? read(fds[0], values.data() + got, n - got) : -1;
                if (k < 0 && errno == EINTR) continue;
                if (k <= 0) {
                    failure = (ready == 0 ? "took longer than the step timeout" : "ended the replay") +
                              std::string(" at step ") + std::to_string(s + 1) + " (line " +
                              std::to_string(plan.steps[pc.first_step + s].line) + ")";
                    break;
                }
                got += static_cast<std::size_t>(k);
            }
            if (failure.empty()) each_step(c, s, values);
        }
        if (!failure.empty()) {
            kill(pid, SIGKILL);
            int status = 0;
            waitpid(pid, &status, 0);
            close(fds[0]);
            if (WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL)
                failure += ": " + std::string(strsignal(WTERMSIG(status)));
            throw Error("replaying case '" + case_id(plan, pc) + "' to see its outputs: the library " + failure +
                        "; no outputs were recorded");
        }
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw Error("the replay of cases ended abnormally");
}

}  // namespace kiv
