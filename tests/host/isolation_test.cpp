// Faults, hung steps and libraries with state on the heap, through a stand-in
// library that misbehaves on purpose: each bad case ends alone, its goals
// are kept through the exception entry, and the run goes on.
#include "kivrun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include "host_test.h"

namespace {

using kiv::CaseStatus;

// Scopes of the stand-in: 1 input+1 into kiv_haux1, 2 segfault, 3 loop,
// 4 abort, 5 divide by zero, 6 heap counter, 8 fork and abort. Goal IDs 100..107.
const char* const kFaultySuite =
    "case,scope,10,expect kiv_haux1\n"
    "ok_before,1,5,6\n"
    "segv,1,7,8\n"
    ",2,,\n"
    ",1,,\n"
    "ok_between,1,1,2\n"
    "hangs,3,,\n"
    "aborts,4,,\n"
    "divides_by_zero,5,,\n"
    "ok_after,1,9,10\n"
    "forks_then_aborts,8,,\n";

struct Mode {
    const char* name;
    kiv::Isolation isolation;
    int workers;
};

const Mode kModes[] = {
    {"SnapshotOneWorker", kiv::Isolation::snapshot, 1},
    {"SnapshotTwoWorkers", kiv::Isolation::snapshot, 2},
    {"ForkOneWorker", kiv::Isolation::fork, 1},
    {"ForkTwoWorkers", kiv::Isolation::fork, 2},
};

class KivrunFaultyLibrary : public testing::TestWithParam<Mode> {
protected:
    kiv::RunResult run(const std::string& suite, kiv::Plan* plan_out = nullptr) {
        kiv::Plan plan;
        kiv::parse_suite("faulty.csv", suite, target.schema(), {}, plan);
        kiv::RunOptions o;
        o.isolation = GetParam().isolation;
        o.workers = GetParam().workers;
        o.step_timeout = 0.2;
        auto r = kiv::run(target, plan, o);
        if (plan_out) *plan_out = plan;
        return r;
    }
    int goal_index(int32_t id) const {
        const auto& g = target.schema().goals;
        for (std::size_t i = 0; i < g.size(); ++i)
            if (g[i].id == id) return static_cast<int>(i);
        return -1;
    }
    kiv::Target target{KIV_STANDIN_PATH};
};

TEST_P(KivrunFaultyLibrary, EachFaultEndsOnlyItsOwnCase) {
    const auto r = run(kFaultySuite);
    ASSERT_EQ(r.cases.size(), 8u);
    struct Row {
        const char* name;
        CaseStatus status;
        int signal;
        int step;
    };
    const Row rows[] = {
        {"ok_before", CaseStatus::passed, 0, -1},    {"segv", CaseStatus::crashed, SIGSEGV, 1},
        {"ok_between", CaseStatus::passed, 0, -1},   {"hangs", CaseStatus::timed_out, 0, 0},
        {"aborts", CaseStatus::crashed, SIGABRT, 0}, {"divides_by_zero", CaseStatus::crashed, SIGFPE, 0},
        {"ok_after", CaseStatus::passed, 0, -1},
        // A copy the unit forked finished the case; its own process did not.
        {"forks_then_aborts", CaseStatus::crashed, SIGABRT, 0}};
    for (std::size_t c = 0; c < std::size(rows); ++c) {
        SCOPED_TRACE(rows[c].name);
        EXPECT_EQ(r.cases[c].status, rows[c].status);
        EXPECT_EQ(r.cases[c].signal, rows[c].signal);
        EXPECT_EQ(r.cases[c].fault_step, rows[c].step);
        if (rows[c].status != CaseStatus::passed) {
            EXPECT_TRUE(r.cases[c].goals_kept);
        }
    }
    EXPECT_EQ(r.cases[1].checks, 1);  // the check before the fault was made
}

TEST_P(KivrunFaultyLibrary, GoalsRaisedBeforeAFaultAreKeptThroughTheExceptionEntry) {
    const auto r = run(kFaultySuite);
    struct Row {
        int32_t id;
        int64_t first_case;
        int32_t step;
    };
    const Row rows[] = {{100, 0, 0}, {101, 1, 1}, {102, 3, 0}, {103, 4, 0}, {104, 5, 0}, {107, -1, -1}};
    for (const auto& row : rows) {
        SCOPED_TRACE("goal ID " + std::to_string(row.id));
        const auto& g = r.goals[goal_index(row.id)];
        EXPECT_EQ(g.case_index, row.first_case);
        EXPECT_EQ(g.step, row.step);
    }
}

// A goal's first reach names the step that raised it, also when the case
// goes on for more steps or faults in a later one. Not in the first case,
// which a snapshot run checks step by step anyway.
TEST_P(KivrunFaultyLibrary, AFirstReachNamesItsStep) {
    struct Row {
        const char* name;
        const char* suite;
        int32_t id;
        int64_t first_case;
        int32_t step;
    };
    const Row rows[] = {
        {"LaterStep", "case,scope,10,expect kiv_haux1\na,1,5,6\nc,1,5,6\n,1,5,6\n,1,2,3\n,1,5,6\n", 107, 1, 2},
        {"StepBeforeAFault", "case,scope,10,expect kiv_haux1\na,1,5,6\nc,1,5,6\n,1,2,3\n,2,,\n", 107, 1, 1},
        {"TheFaultingStep", "case,scope,10,expect kiv_haux1\na,1,5,6\nc,1,5,6\n,1,2,3\n,2,,\n", 101, 1, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto r = run(row.suite);
        const auto& g = r.goals[goal_index(row.id)];
        EXPECT_EQ(g.case_index, row.first_case);
        EXPECT_EQ(g.step, row.step);
    }
}

TEST_P(KivrunFaultyLibrary, AFailedCheckNamesItsFirstMismatch) {
    const auto r = run("case,scope,10,expect kiv_haux1\nc,1,1,2\n,1,4,9\n,1,5,7\n");
    ASSERT_EQ(r.cases[0].status, CaseStatus::failed);
    EXPECT_EQ(r.cases[0].checks, 3);
    EXPECT_EQ(r.cases[0].mismatches, 2);
    EXPECT_EQ(r.cases[0].mismatch_step, 1);
    EXPECT_EQ(r.cases[0].actual, 5);
}

TEST_P(KivrunFaultyLibrary, ACrashAmidManyCasesLosesNoOtherCase) {
    std::string suite = "case,scope,10,expect kiv_haux1\n";
    const int n = GetParam().isolation == kiv::Isolation::fork ? 60 : 3000;
    for (int c = 0; c < n; ++c)
        suite += "c" + std::to_string(c) + (c == n / 3 || c == n / 2 ? ",2,," : ",1,3,4") + "\n";
    const auto r = run(suite);
    for (int c = 0; c < n; ++c) {
        const CaseStatus want = c == n / 3 || c == n / 2 ? CaseStatus::crashed : CaseStatus::passed;
        ASSERT_EQ(r.cases[c].status, want) << "case " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Isolation, KivrunFaultyLibrary, testing::ValuesIn(kModes),
                         [](const testing::TestParamInfo<Mode>& p) { return std::string(p.param.name); });

kiv::RunResult run_heap_suite(kiv::Target& target, kiv::Isolation isolation, const std::string& suite) {
    kiv::Plan plan;
    kiv::parse_suite("heap.csv", suite, target.schema(), {}, plan);
    kiv::RunOptions o;
    o.isolation = isolation;
    o.step_timeout = 0.2;
    return kiv::run(target, plan, o);
}

TEST(KivrunSnapshotCheck, RefusesALibraryWhoseStateLivesOnTheHeap) {
    kiv::Target target(KIV_STANDIN_PATH);
    try {
        run_heap_suite(target, kiv::Isolation::snapshot, "case,scope\nheap,6\nagain,6\n");
        FAIL() << "snapshot mode accepted a library with heap state";
    } catch (const kiv::SnapshotRefused& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("case 'heap'"), std::string::npos) << what;
        EXPECT_NE(what.find("goal ID 105"), std::string::npos) << what;
        EXPECT_NE(what.find("--isolation fork"), std::string::npos) << what;
    }
}

TEST(KivrunSnapshotCheck, ChecksTheNextCaseWhenTheFirstOneCrashes) {
    kiv::Target target(KIV_STANDIN_PATH);
    EXPECT_THROW(run_heap_suite(target, kiv::Isolation::snapshot, "case,scope\nsegv,2\nheap,6\n"),
                 kiv::SnapshotRefused);
}

TEST(KivrunSnapshotCheck, ForkIsolationRunsTheHeapLibraryCaseByCase) {
    kiv::Target target(KIV_STANDIN_PATH);
    const auto r = run_heap_suite(target, kiv::Isolation::fork, "case,scope\nheap,6\nagain,6\n");
    EXPECT_EQ(r.cases[1].status, CaseStatus::passed);
    // Each case starts from the load state: no case ever saw a second step.
    const auto& goals = target.schema().goals;
    for (std::size_t g = 0; g < goals.size(); ++g)
        if (goals[g].id == 106) {
            EXPECT_EQ(r.goals[g].case_index, -1);
        }
}

// Process state a case leaves behind reaches no later case in snapshot
// isolation, as in fork isolation: an alarm left pending (the next case runs
// past it) and the state of rand() (each case draws the first value).
std::string pending_alarm_suite() {
    std::string s = "case,scope,10,expect kiv_haux1\nsets_alarm,11,,\nruns_past_it,7,250,251\n";
    for (int i = 0; i < 45; ++i)
        s += ",7,250,251\n";
    return s;
}

struct StateRow {
    const char* name;
    std::string suite;
};

const StateRow kStateRows[] = {
    {"PendingAlarm", pending_alarm_suite()},
    // 103: the low byte of the first rand() of a process that never seeded it.
    {"RandomState", "case,scope,expect kiv_haux1\nfirst,12,103\nsecond,12,103\nthird,12,103\n"},
};

class KivrunSnapshotState : public testing::TestWithParam<StateRow> {};

TEST_P(KivrunSnapshotState, LeftByACaseReachesNoLaterCase) {
    for (const auto isolation : {kiv::Isolation::snapshot, kiv::Isolation::fork}) {
        kiv::Target target(KIV_STANDIN_PATH);
        kiv::Plan plan;
        kiv::parse_suite("state.csv", GetParam().suite, target.schema(), {}, plan);
        kiv::RunOptions o;
        o.isolation = isolation;
        const auto r = kiv::run(target, plan, o);
        for (std::size_t c = 0; c < r.cases.size(); ++c)
            EXPECT_EQ(r.cases[c].status, CaseStatus::passed) << plan.cases[c].name << " signal " << r.cases[c].signal;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, KivrunSnapshotState, testing::ValuesIn(kStateRows),
                         [](const testing::TestParamInfo<StateRow>& p) { return std::string(p.param.name); });

// What a unit does to processes stays within its own: a signal to its
// process group reaches only the worker (kivrun runs in a session of its own
// here, so that a fault in this reaches no test), and a process it leaves
// behind holding the output ends with the worker, never delaying kivrun.
struct ProcessRow {
    const char* name;
    const char* suite;
    const char* isolation;
    const char* out;  // expected in standard output
};

const ProcessRow kProcessRows[] = {
    {"SignalToItsGroupEndsOnlyTheCase", "case,scope\nkills,9\nafter,1\n", "snapshot", "CRASH kills: SIGTERM"},
    {"SignalToItsGroupEndsOnlyTheCaseInFork", "case,scope\nkills,9\nafter,1\n", "fork", "CRASH kills: SIGTERM"},
    {"ProcessHoldingTheOutputEndsWithTheWorker", "case,scope\nleaves,10\nafter,1\n", "snapshot", "2 passed"},
    {"ProcessHoldingTheOutputEndsWithTheCase", "case,scope\nleaves,10\nafter,1\n", "fork", "2 passed"},
};

class KivrunUnitProcesses : public testing::TestWithParam<ProcessRow> {};

TEST_P(KivrunUnitProcesses, StayWithinTheirWorker) {
    const ProcessRow& row = GetParam();
    const std::string suite = kivtest::write_file(std::string(row.name) + ".csv", row.suite);
    const auto start = std::chrono::steady_clock::now();
    const auto r = kivtest::run_command(std::string("{ setsid -w ") + KIVRUN_PATH + " run " + KIV_STANDIN_PATH + " " +
                                        suite + " -v --isolation " + row.isolation + " | cat; }");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("after"), std::string::npos) << r.out;
    EXPECT_LT(seconds, 10) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Rows, KivrunUnitProcesses, testing::ValuesIn(kProcessRows),
                         [](const testing::TestParamInfo<ProcessRow>& p) { return std::string(p.param.name); });

TEST(KivrunLoading, RefusesALibraryThatLacksAnExport) {
    try {
        kiv::Target t(KIV_STANDIN_INCOMPLETE_PATH);
        FAIL();
    } catch (const kiv::Error& e) {
        EXPECT_NE(std::string(e.what()).find("does not export kiv_dll_exception"), std::string::npos) << e.what();
    }
}

TEST(KivrunLoading, RefusesAMissingOrForeignFile) {
    EXPECT_THROW(kiv::Target("/nonexistent/libx.so"), kiv::Error);
    EXPECT_THROW(kiv::Target(kivtest::write_file("not_a_library.so", "text")), kiv::Error);
}

TEST(KivrunLoading, ReportsTheFaultsOfARunThroughTheCommandLine) {
    const std::string suite = kivtest::write_file("faulty.csv", kFaultySuite);
    const auto r = kivtest::kivrun(std::string("run ") + KIV_STANDIN_PATH + " " + suite + " --step-timeout 0.2");
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("CRASH segv: SIGSEGV in step 2 (" + suite + ":4); goals reached before it are kept"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("HUNG  hangs: step 1"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("no catalog"), std::string::npos) << r.err;
}

}  // namespace
