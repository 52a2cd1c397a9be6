// The ledger under fire: workers killed at random moments and timeout signals
// that arrive late must neither lose a case, count one twice, nor let a case
// that did not finish pass.
#include "kivrun.h"
#include "exec/ledger.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using kiv::CaseStatus;

kiv::RunResult run_suite(const kiv::Target& target, const std::string& suite, int workers, double timeout) {
    kiv::Plan plan;
    kiv::parse_suite("ledger.csv", suite, target.schema(), {}, plan);
    kiv::RunOptions o;
    o.workers = workers;
    o.step_timeout = timeout;
    return kiv::run(target, plan, o);
}

std::vector<pid_t> children_of(pid_t parent) {
    std::ifstream in("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
    std::vector<pid_t> pids;
    for (pid_t p; in >> p;)
        if (p != getpid()) pids.push_back(p);
    return pids;
}

// In a child of the test: every few milliseconds, sends the workers timeout
// signals that carry no current token, then SIGKILLs one of them. Ends after
// `kills` kills or when no worker has been seen for a while; exits with the
// number of kills.
[[noreturn]] void killer(pid_t runner, int kills) {
    std::mt19937 random(static_cast<unsigned>(getpid()));
    int done = 0;
    for (int idle = 0; done < kills && idle < 200;) {
        usleep(2000 + random() % 20000);
        const auto workers = children_of(runner);
        if (workers.empty()) {
            ++idle;
            continue;
        }
        idle = 0;
        for (pid_t w : workers) {
            sigqueue(w, SIGUSR2, sigval{});  // token 0: never a step's
            kill(w, SIGUSR2);                // not even queued by the parent
        }
        if (kill(workers[random() % workers.size()], SIGKILL) == 0) ++done;
    }
    _exit(done);
}

TEST(Ledger, EveryCaseIsAccountedForOnceWhileWorkersAreKilledAtRandom) {
    const kiv::Target target(KIV_STANDIN_PATH);
    std::string suite = "case,scope,10,expect kiv_haux1\n";
    const int n = 10000;
    for (int c = 0; c < n; ++c)
        suite += "c" + std::to_string(c) + ",1," + std::to_string(c % 200) + "," + std::to_string(c % 200 + 1) +
                 "\n,7,2,3\n";
    const pid_t runner = getpid();
    const pid_t k = fork();
    ASSERT_GE(k, 0);
    if (k == 0) killer(runner, 40);
    const auto r = run_suite(target, suite, 2, 5.0);
    int status = 0;
    ASSERT_EQ(waitpid(k, &status, 0), k);
    ASSERT_TRUE(WIFEXITED(status));
    const int kills = WEXITSTATUS(status);
    EXPECT_GE(kills, 10) << "the run ended before the workers were killed often enough to test anything";

    ASSERT_EQ(r.cases.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(r.stopped, "");
    int crashed = 0;
    for (int c = 0; c < n; ++c) {
        const auto& o = r.cases[c];
        if (o.status == CaseStatus::crashed) {
            // Killed while it ran: charged to the case in the lane, with its
            // step (-1: started, its first step not yet).
            EXPECT_EQ(o.signal, SIGKILL) << "case " << c;
            EXPECT_TRUE(o.fault_step >= -1 && o.fault_step <= 1) << "case " << c << " step " << o.fault_step;
            ++crashed;
        } else {
            // Passed means both steps ran and were checked; a stale timeout
            // signal interrupted nothing.
            ASSERT_EQ(o.status, CaseStatus::passed) << "case " << c;
            ASSERT_EQ(o.checks, 2) << "case " << c;
            ASSERT_EQ(o.mismatches, 0) << "case " << c;
        }
    }
    EXPECT_LE(crashed, kills);
    RecordProperty("kills", kills);
    RecordProperty("crashed", crashed);
}

// A step that ends just as the parent gives up on it must not hand its
// timeout to the step or case after it.
TEST(Ledger, ASlowStepAtTheEdgeOfTheTimeoutIsChargedToItsOwnStepOnly) {
    const kiv::Target target(KIV_STANDIN_PATH);
    std::string suite = "case,scope,10,expect kiv_haux1\n";
    const int n = 40;
    for (int c = 0; c < n; ++c)  // 15 to 25 ms against a timeout of 20 ms
        suite += "slow" + std::to_string(c) + ",7," + std::to_string(150 + c * 100 / n) + ",\n,1,1,2\nfast" +
                 std::to_string(c) + ",1,4,5\n";
    const auto r = run_suite(target, suite, 2, 0.02);
    ASSERT_EQ(r.cases.size(), static_cast<std::size_t>(2 * n));
    for (int c = 0; c < 2 * n; ++c) {
        const auto& o = r.cases[c];
        SCOPED_TRACE("case " + std::to_string(c));
        if (c % 2 == 1 || o.status != CaseStatus::timed_out) {
            EXPECT_EQ(o.status, CaseStatus::passed);
            EXPECT_EQ(o.checks, 1);
        } else {
            EXPECT_EQ(o.fault_step, 0);
        }
    }
}

// The moments a random kill may miss, in order: a worker dies after claiming
// and before starting, between a step and its end, and after a timeout was
// sent for a step that has ended since.
TEST(Ledger, AReapedWorkerLeavesItsRunningCaseFinalAndItsClaimsOpen) {
    using kiv::detail::Ledger;
    std::vector<kiv::detail::LedgerCase> cases(6);
    std::vector<kiv::detail::LedgerLane> lanes(2);
    Ledger ledger(cases.data(), cases.size(), lanes.data(), lanes.size());
    int64_t end = 0;
    ASSERT_EQ(ledger.claim(0, 4, &end), 0);
    ASSERT_EQ(end, 4);
    ledger.abandon(0, SIGKILL, 0);  // killed before starting: nothing is final, all four reopen
    EXPECT_EQ(ledger.claim(1, 2, &end), 4);  // above the hint first
    EXPECT_EQ(ledger.claim(0, 3, &end), 0);
    EXPECT_EQ(end, 3);

    ledger.start(0, 0);
    ledger.step(0, 0);
    ledger.step(0, 1);
    const uint64_t sent = ledger.token(0);  // the parent gives up on step 1 ...
    kiv::CaseOutcome passed;
    passed.status = CaseStatus::passed;
    ledger.finish(0, passed);  // ... which ends just then
    ledger.start(0, 1);
    ledger.step(0, 0);
    ledger.abandon(0, SIGKILL, sent);  // killed in case 1 when the grace ran out

    const auto first = ledger.result(0), second = ledger.result(1);
    EXPECT_EQ(first.status, CaseStatus::passed);
    EXPECT_EQ(second.status, CaseStatus::crashed);
    EXPECT_EQ(second.signal, SIGKILL);
    EXPECT_EQ(second.fault_step, 0);
    EXPECT_EQ(ledger.result(2).status, CaseStatus::not_run);  // reopened, never run again
    EXPECT_TRUE(ledger.any_open());
    EXPECT_EQ(ledger.finished(), 2u);

    ledger.start(0, 2);
    ledger.step(0, 3);
    ledger.abandon(0, SIGKILL, ledger.token(0));  // the hung step never moved: its timeout
    EXPECT_EQ(ledger.result(2).status, CaseStatus::timed_out);
    EXPECT_EQ(ledger.result(2).fault_step, 3);
    ledger.finish(0, passed);  // a late finish changes nothing
    EXPECT_EQ(ledger.result(2).status, CaseStatus::timed_out);
}

}  // namespace
