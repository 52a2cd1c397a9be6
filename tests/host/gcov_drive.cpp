// Runs a suite's steps against a harness library built with gcov's counters,
// each case in a process of its own from the state at load, as kivrun does;
// each process exits normally so that gcov writes what the case ran.
//   gcov_drive LIBRARY SUITE.csv [CATALOG]
// Without a catalog the suite names inputs and scopes by bare ID; with the
// catalog of the instrumented build of the same unit set (the IDs are the
// same), by name.
#include "exec/step.h"
#include "kivrun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: gcov_drive LIBRARY SUITE.csv [CATALOG]\n");
        return 2;
    }
    try {
        kiv::Target target(argv[1], argc == 4 ? std::optional<std::string>(argv[3]) : std::nullopt, argc == 4);
        const kiv::Plan plan = kiv::load_suites({argv[2]}, target.schema(), {});
        const kiv::StepDriver drive(target);
        for (const kiv::PlanCase& pc : plan.cases) {
            std::fflush(nullptr);
            const pid_t pid = fork();
            if (pid < 0) return 2;
            if (pid == 0) {
                for (uint32_t s = 0; s < pc.n_steps; ++s)
                    drive.step(plan, plan.steps[pc.first_step + s]);
                std::exit(0);
            }
            int status = 0;
            if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gcov_drive: %s\n", e.what());
        return 2;
    }
    return 0;
}
