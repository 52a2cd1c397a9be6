// End-to-end: the library driven through its exports alone, loaded with
// dlopen as a host loads it. Every test runs in a fresh process, so each
// starts from the library's state at load.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "library.h"

namespace {

// Goal IDs are the even numbers 1542..1892; the host registers them as
// outputs in that order, so output index i is goal ID 1542 + 2 i.
constexpr int kGoalIds = 176;
// Goal number behind each goal ID, in ID order (the library's ID table).
const std::vector<int>& goalOfIdIndex() {
    static const std::vector<int> table = [] {
        std::vector<int> v;
#define KIV_GOAL_ID(id, n) v.push_back(n);
#include "unit/harness_ids.def"
        return v;
    }();
    return table;
}

class Host : public KivLibraryTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(KivLibraryTest::SetUp());
        // Inputs in ID order, goals in ID order.
        const int inputIds[] = {959, 961, 963, 966, 968, 970, 980, 986, 990, 992, 994, 1000, 1002, 1004, 1006, 1008};
        for (int i = 0; i < 16; ++i) {
            ASSERT_EQ(lib.kiv_nr_registered_functions(std::to_string(inputIds[i]).c_str()), 2);
            lib.kiv_register_inputs(16, i, std::to_string(inputIds[i]).c_str());
            inputIndex_[inputIds[i]] = i;
        }
        for (int i = 0; i < kGoalIds; ++i) {
            const std::string id = std::to_string(1542 + 2 * i);
            ASSERT_EQ(lib.kiv_nr_registered_functions(id.c_str()), 1);
            lib.kiv_register_outputs(kGoalIds, i, id.c_str());
        }
    }

    void TearDown() override {
        if (lib.handle != nullptr) {
            lib.kiv_unregister_inputs();
            lib.kiv_unregister_outputs();
        }
        KivLibraryTest::TearDown();
    }

    void set(int id, int64_t value) { lib.kiv_dll_set_input_int(inputIndex_.at(id), value); }

    void step(int32_t scope) {
        *lib.KIV_SCOPE_UID = scope;
        lib.kiv_dll_step();
    }

    // Goal number -> value, read through the output index table.
    std::map<int, int64_t> goals() {
        std::map<int, int64_t> all;
        for (int i = 0; i < kGoalIds; ++i)
            all[goalOfIdIndex()[i]] = lib.kiv_dll_get_output_int(i);
        return all;
    }

    int64_t goal(int n) { return goals().at(n); }

    std::vector<int> raised() {
        std::vector<int> r;
        for (auto [n, v] : goals())
            if (v != 0) r.push_back(n);
        return r;
    }

private:
    std::map<int, int> inputIndex_;
};

TEST_F(Host, EveryGoalReadsZeroAfterLoad) {
    EXPECT_EQ(raised(), std::vector<int>{});
}

// The wrapper's first step with every input at 0: the first-activation branch
// runs runa2, runa1 and runa3 once. The initialisation's own probes raise no
// goal, so exactly these goals of the step's run are raised, each once.
TEST_F(Host, FirstWrapperStepRaisesExactlyTheGoalsOfItsRun) {
    step(955);
    std::vector<int> expected = {// wrapper: statements, decisions, relations, entry, calls
                                 2, 9, 10, 11, 12, 13, 22, 24, 25, 27, 46, 48, 51, 52, 55, 59, 60, 61,
                                 // runa3: body, after-if, activation false, entry, calls
                                 62, 69, 84, 157, 160, 165, 166,
                                 // runa1: body, status == 0, occupied false, decisions, entry, calls
                                 70, 86, 89, 110, 141, 143, 158, 167, 169, 170,
                                 // runa2: body, after-count, no edge, no count, entry, calls
                                 71, 75, 92, 94, 114, 118, 159, 171, 172};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(raised(), expected);
    for (int n : expected)
        EXPECT_EQ(goal(n), 1) << "KIV_G" << n;
}

TEST_F(Host, StatementGoalsCountTheStepsThatRanTheirBlock) {
    for (int64_t n = 1; n <= 3; ++n) {
        step(955);
        EXPECT_EQ(goal(12), n) << "wrapper body";
        EXPECT_EQ(goal(9), 1) << "first-activation block runs once";
        EXPECT_EQ(goal(8), n - 1) << "else-block runs from the second step on";
    }
}

TEST_F(Host, FourPressesWrapTheStageThroughTheWrapper) {
    set(966, 1);
    set(968, 1);
    step(955);  // first step: initialisation, button released
    for (int press = 1; press <= 4; ++press) {
        set(980, 1);
        step(955);
        set(980, 0);
        step(955);
        EXPECT_EQ(goal(74), press) << "counted presses";
        EXPECT_EQ(goal(148), press == 4 ? 1 : 0) << "next stage == 4 met only by the fourth press";
        EXPECT_EQ(goal(73), press == 4 ? 1 : 0) << "stage wraps to 0 on the fourth press";
    }
    // Every stage 1..3 and 0 was heated: the three cases and the default ran.
    for (int n : {173, 174, 175, 176})
        EXPECT_EQ(goal(n), 1) << "KIV_G" << n;
}

TEST_F(Host, HeldButtonCountsOnce) {
    step(955);
    set(980, 1);
    for (int i = 0; i < 5; ++i)
        step(955);
    EXPECT_EQ(goal(74), 1);
}

struct Runa1Row {
    int status, occupied, state;
    bool active;
};

class Runa1Scope : public Host, public ::testing::WithParamInterface<Runa1Row> {};

TEST_P(Runa1Scope, ActivationDecision) {
    const Runa1Row r = GetParam();
    set(994, r.status);
    set(990, r.occupied);
    set(992, r.state);
    step(987);
    EXPECT_EQ(goal(87), r.active ? 1 : 0) << "activation decision true";
    EXPECT_EQ(goal(86), r.active ? 0 : 1) << "activation decision false";
    EXPECT_EQ(goal(168), r.occupied ? 1 : 0) << "the state is read only for an occupied seat";
    EXPECT_EQ(goal(88), r.status != 0 ? 1 : 0) << "status == 0 false";
}

INSTANTIATE_TEST_SUITE_P(TruthTable, Runa1Scope,
                         ::testing::Values(Runa1Row{0, 1, 1, true}, Runa1Row{3, 1, 1, false}, Runa1Row{0, 0, 1, false},
                                           Runa1Row{0, 1, 2, false}, Runa1Row{1, 0, 0, false},
                                           Runa1Row{0, 1, 0, false}),
                         [](const auto& info) {
                             const Runa1Row& r = info.param;
                             return "status" + std::to_string(r.status) + "_occupied" + std::to_string(r.occupied) +
                                    "_state" + std::to_string(r.state);
                         });

TEST_F(Host, Runa3ScopeWithStage7TakesTheDefaultCase) {
    set(1006, 1);
    set(1008, 7);
    step(997);
    EXPECT_EQ(goal(173), 1);
    for (int n : {174, 175, 176})
        EXPECT_EQ(goal(n), 0) << "KIV_G" << n;
}

TEST_F(Host, CastBelowMinimumNeverRises) {
    // Every scope, with every input swept through its range.
    const int inputs[] = {959, 961, 963, 966, 968, 970, 980, 986, 990, 992, 994, 1000, 1002, 1004, 1006, 1008};
    for (int v = 0; v < 256; v += 3) {
        for (int id : inputs)
            set(id, (v * id) & 0xff);
        for (int scope : {955, 981, 987, 997})
            step(scope);
    }
    EXPECT_EQ(goal(155), 0);
    EXPECT_EQ(goal(156), 0) << "StageCounter + 1 never exceeds 255 either";
}

class UnknownScope : public Host, public ::testing::WithParamInterface<int32_t> {};

TEST_P(UnknownScope, StepChangesNothing) {
    set(980, 1);
    for (int i = 0; i < 3; ++i)
        step(GetParam());
    EXPECT_EQ(raised(), std::vector<int>{});
    // The scope that was never selected still initialises on its own first step.
    step(955);
    EXPECT_EQ(goal(9), 1);
}

INSTANTIATE_TEST_SUITE_P(Uids, UnknownScope, ::testing::Values(0, 956, 954, -955, 1955, 519, 533),
                         [](const auto& info) {
                             return info.param < 0 ? "minus" + std::to_string(-info.param) : std::to_string(info.param);
                         });

TEST_F(Host, ExceptionEntryBeforeAnyStepRaisesNothing) {
    lib.kiv_dll_exception();
    lib.kiv_dll_exception();
    EXPECT_EQ(raised(), std::vector<int>{});
}

TEST_F(Host, ExceptionEntryAfterAStepChangesNothingMore) {
    step(987);
    const auto before = goals();
    lib.kiv_dll_exception();
    EXPECT_EQ(goals(), before);
}

// Each scope initialises the shared unit on its own first step: the runa2
// scope's first step re-arms the press filter that the wrapper's steps had
// already released, so a press seen by that step is not counted.
TEST_F(Host, LaterScopesFirstStepReinitialisesTheSharedUnit) {
    step(955);
    step(955);
    set(986, 1);
    step(981);
    EXPECT_EQ(goal(74), 0) << "press right after the re-initialisation is ignored";
    EXPECT_EQ(goal(153), 1) << "PrevPressEdge == 1 was met";
    set(986, 0);
    step(981);
    set(986, 1);
    step(981);
    EXPECT_EQ(goal(74), 1) << "no second initialisation: the next press counts";
}

TEST_F(Host, WritesAreTakenAsTheLowByteOrAsBoolean) {
    // A stage of 258 reaches runa3 as 2; an activation of 5 as 1.
    set(1008, 258);
    set(1006, 5);
    step(997);
    EXPECT_EQ(goal(175), 1) << "case 2";
    EXPECT_EQ(goal(85), 1) << "activation decision true";
}

}  // namespace
