// The seat heater controller: stage selection, activation, coil and LEDs, and
// the probe records each runnable leaves behind for the goal evaluation.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "unit/Rte_SeatHeatControl.h"
#include "unit/seat_heating_control.h"

#include "record_outcomes.h"

namespace {

auto& state = seat_heating_control_ARID_DEF;

void runa2_with(uint8_t button) {
    dsin_HeatingRequest_GetButtonPressed_status = button;
    runa2();
}

void press_and_release() {
    runa2_with(1);
    runa2_with(0);
}

// --- runa2 scenarios: one table row per record field the scenario fixes ---

struct Check {
    const char* what;
    std::string (*actual)();
    std::string expected;
};
#define OUTCOMES(rec) #rec, [] { return outcomes(rec); }
#define VALUE(expr) #expr, [] { return std::to_string(expr); }

struct Scenario {
    const char* name;
    void (*run)();
    std::vector<Check> checks;
};
void PrintTo(const Scenario& s, std::ostream* os) {
    *os << s.name;
}

const Scenario kRuna2Scenarios[] = {
    {"ReleasedButtonStopsBothChainsAtTheFirstOperand",
     [] {
         SeatHeatControl_Init();
         runa2_with(0);
     },
     {{OUTCOMES(TU18ixa_cc_cond1), "F"},
      {OUTCOMES(TU18ixa_cc_cond2), "-"},
      {OUTCOMES(TU18ixa_dc_cond1), "F"},
      {OUTCOMES(TU18ixa_cc_cond3), "F"},
      {OUTCOMES(TU18_RELOP_1), "-"},
      {OUTCOMES(TU18ixa_cc_cond4), "-"},
      {OUTCOMES(TU18ixa_dc_cond2), "F"},
      {VALUE(TU18ixa_stm_cond1.hitCount), "1"},
      {VALUE(TU18ixa_stm_cond2.hitCount), "0"},
      {VALUE(TU18ixa_stm_cond5.hitCount), "1"},
      {VALUE(TU18ixa_fc_cond1.reached), "1"},
      {VALUE(TU18ixa_dcf_cond1.reached), "1"},
      {VALUE(TU18ixa_dcf_cond2.reached), "1"},
      {VALUE(state.StageCounter), "0"},
      {VALUE(state.PrevPressEdge), "0"}}},
    {"FirstPressAfterInitIsNotCounted",
     [] {
         SeatHeatControl_Init();
         RteStub_TemperatureStage = 0xEE;
         runa2_with(1);
     },
     {{OUTCOMES(TU18ixa_cc_cond1), "T"},
      {OUTCOMES(TU18ixa_cc_cond2), "T"},
      {OUTCOMES(TU18ixa_dc_cond1), "T"},
      {OUTCOMES(TU18ixa_cc_cond3), "T"},
      {OUTCOMES(TU18_RELOP_1), "F"},
      {VALUE(TU18_RELOP_1.equal), "1"},
      {OUTCOMES(TU18ixa_cc_cond4), "F"},
      {OUTCOMES(TU18ixa_dc_cond2), "F"},
      {VALUE(TU18ixa_stm_cond2.hitCount), "0"},
      {VALUE(state.StageCounter), "0"},
      {VALUE(RteStub_TemperatureStage), "0"},
      {VALUE(state.PrevPressEdge), "1"},
      {VALUE(state.PrevButtonPressed), "1"}}},
    {"FourPressesWrapTheStageOnce",
     [] {
         SeatHeatControl_Init();
         runa2_with(0);
         for (int i = 0; i < 4; ++i)
             press_and_release();
     },
     {{VALUE(state.StageCounter), "0"},
      {VALUE(RteStub_TemperatureStage), "0"},
      {VALUE(TU18ixa_stm_cond1.hitCount), "9"},
      {VALUE(TU18ixa_stm_cond2.hitCount), "4"},
      {VALUE(TU18ixa_stm_cond3.hitCount), "1"},
      {VALUE(TU18ixa_stm_cond4.hitCount), "3"},
      {VALUE(TU18ixa_stm_cond5.hitCount), "9"},
      {OUTCOMES(TU18_RELOP_1), "T"},
      {VALUE(TU18_RELOP_1.oneBelow), "1"},
      {OUTCOMES(TU18ixa_cc_cond4), "T"},
      {OUTCOMES(TU18ixa_dc_cond2), "FT"},
      {OUTCOMES(TU18_RELOP_2), "FT"},
      {VALUE(TU18_RELOP_2.oneBelow), "1"},
      {VALUE(TU18_RELOP_2.equal), "1"},
      {VALUE(TU18_RELOP_2.oneAbove), "0"},
      {OUTCOMES(TU18ixa_dc_cond3), "FT"},
      {VALUE(TU18_CAST_1.belowMin), "0"},
      {VALUE(TU18_CAST_1.aboveMax), "0"}}},
    {"HeldButtonCountsOnePress",
     [] {
         SeatHeatControl_Init();
         runa2_with(0);
         for (int i = 0; i < 5; ++i)
             runa2_with(1);
     },
     {{VALUE(state.StageCounter), "1"},
      {VALUE(TU18ixa_stm_cond2.hitCount), "1"},
      {OUTCOMES(TU18ixa_cc_cond2), "FT"},
      {OUTCOMES(TU18ixa_dc_cond1), "FT"},
      {OUTCOMES(TU18ixa_cc_cond3), "FT"},
      {OUTCOMES(TU18_RELOP_1), "T"}}},
    // Only a corrupted stage can make the 32-bit successor leave the 8-bit range.
    {"CorruptedStage255TripsTheCastsUpperBound",
     [] {
         state.StageCounter = 255;
         runa2_with(1);
     },
     {{VALUE(TU18_CAST_1.aboveMax), "1"},
      {VALUE(TU18_CAST_1.belowMin), "0"},
      {OUTCOMES(TU18_RELOP_2), "F"},
      {VALUE(TU18ixa_stm_cond4.hitCount), "1"},
      {VALUE(state.StageCounter), "0"}}},
};

class Runa2Records : public testing::TestWithParam<Scenario> {};

TEST_P(Runa2Records, HoldTheOutcomesOfTheScenario) {
    GetParam().run();
    for (const Check& check : GetParam().checks) {
        SCOPED_TRACE(check.what);
        EXPECT_EQ(check.actual(), check.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(SeatHeatControl, Runa2Records, testing::ValuesIn(kRuna2Scenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST(SeatHeatControl, PressesCycleTheStageThroughZeroToThree) {
    SeatHeatControl_Init();
    runa2_with(0);
    for (uint8_t expected : {1, 2, 3, 0, 1}) {
        runa2_with(1);
        EXPECT_EQ(RteStub_TemperatureStage, expected);
        runa2_with(0);
        EXPECT_EQ(RteStub_TemperatureStage, expected);
    }
}

// --- runa1: activation truth table ---

struct ActivationRow {
    const char* name;
    uint8_t status, occupied, powerState;
    uint8_t expected;
    uint8_t stateRead;  // TU18ixa_dcf_cond5 reached
    const char* cc6;
    const char* cc7;
};
void PrintTo(const ActivationRow& row, std::ostream* os) {
    *os << row.name;
}

const ActivationRow kActivation[] = {
    {"ReceptionErrorBlocks", 3, 1, 1, 0, 1, "T", "F"},
    {"EmptySeatSkipsTheStateRead", 0, 0, 1, 0, 0, "-", "-"},
    {"PowerStateTwoBlocks", 0, 1, 2, 0, 1, "F", "-"},
    {"OccupiedStateOneNoErrorActivates", 0, 1, 1, 1, 1, "T", "T"},
};

class Runa1Activation : public testing::TestWithParam<ActivationRow> {};

TEST_P(Runa1Activation, WritesTheConditionAndShortCircuitsItsOperands) {
    const ActivationRow& row = GetParam();
    RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState_err = row.status;
    RteStub_IF_SeatOccupied_SeatOccupied_SeatOccupied = row.occupied;
    RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState = row.powerState;
    RteStub_ActivationCondition = 0xEE;
    runa1();
    EXPECT_EQ(RteStub_ActivationCondition, row.expected);
    EXPECT_EQ(state.ActivationOk, row.expected);
    EXPECT_EQ(outcomes(TU18_RELOP_3), row.status == 0 ? "T" : "F");
    EXPECT_EQ(outcomes(TU18ixa_dc_cond4), row.status == 0 ? "T" : "F");
    EXPECT_EQ(outcomes(TU18ixa_cc_cond5), row.occupied ? "T" : "F");
    EXPECT_EQ(TU18ixa_dcf_cond5.reached, row.stateRead);
    EXPECT_EQ(outcomes(TU18_RELOP_4), row.stateRead ? row.cc6 : "-");
    EXPECT_EQ(outcomes(TU18ixa_cc_cond6), row.cc6);
    EXPECT_EQ(outcomes(TU18ixa_cc_cond7), row.cc7);
    EXPECT_EQ(outcomes(TU18ixa_dc_cond5), row.expected ? "T" : "F");
    EXPECT_EQ(TU18ixa_stm_cond6.hitCount, 1u);
    EXPECT_EQ(TU18ixa_dcf_cond3.reached + TU18ixa_dcf_cond4.reached + TU18ixa_dcf_cond6.reached, 3);
}

INSTANTIATE_TEST_SUITE_P(SeatHeatControl, Runa1Activation, testing::ValuesIn(kActivation),
                         [](const testing::TestParamInfo<ActivationRow>& info) {
                             return std::string(info.param.name);
                         });

// --- runa3: coil temperature and LED bar per stage, heating allowed ---

struct StageRow {
    const char* name;
    uint8_t stage;
    uint8_t temperature;
    uint8_t leds[3];
    const char* casesReached;  // sc 8, 9, 10, 11: case 1, 2, 3, default
    const char* prmCalls;      // dcf 9, 10, 11: parameter of stage 1, 2, 3 read
    const char* cc12;
    const char* cc13;
    const char* cc14;
    const char* cc15;
    const char* cc16;
};
void PrintTo(const StageRow& row, std::ostream* os) {
    *os << row.name;
}

const StageRow kStages[] = {
    {"Stage0", 0, 0, {0, 0, 0}, "0001", "000", "F", "F", "F", "F", "F"},
    {"Stage1", 1, 30, {1, 0, 0}, "1000", "100", "T", "-", "-", "F", "F"},
    {"Stage2", 2, 35, {1, 1, 0}, "0100", "010", "F", "T", "-", "T", "-"},
    {"Stage3", 3, 45, {1, 1, 1}, "0010", "001", "F", "F", "T", "F", "T"},
    {"Stage7OutOfRange", 7, 0, {0, 0, 0}, "0001", "000", "F", "F", "F", "F", "F"},
};

class Runa3Stage : public testing::TestWithParam<StageRow> {};

TEST_P(Runa3Stage, DrivesCoilAndLedsAndReachesOnlyItsCase) {
    const StageRow& row = GetParam();
    KIV_init_RTE_params();
    RteStub_ActivationCondition = 1;
    RteStub_TemperatureStage = row.stage;
    dsout_HeatingActivate_SetHeatingCoil_temp = 0xEE;
    runa3();
    EXPECT_EQ(dsout_HeatingActivate_SetHeatingCoil_temp, row.temperature);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[i], row.leds[i]) << "LED " << i;
    std::string cases, prms;
    for (auto* sc : {&TU18ixa_sc_cond8, &TU18ixa_sc_cond9, &TU18ixa_sc_cond10, &TU18ixa_sc_cond11})
        cases += sc->reached ? '1' : '0';
    for (auto* dcf : {&TU18ixa_dcf_cond9, &TU18ixa_dcf_cond10, &TU18ixa_dcf_cond11})
        prms += dcf->reached ? '1' : '0';
    EXPECT_EQ(cases, row.casesReached);
    EXPECT_EQ(prms, row.prmCalls);
    EXPECT_EQ(TU18ixa_stm_cond9.hitCount + TU18ixa_stm_cond10.hitCount + TU18ixa_stm_cond11.hitCount +
                  TU18ixa_stm_cond12.hitCount,
              1u);
    EXPECT_EQ(outcomes(TU18ixa_cc_cond12), row.cc12);
    EXPECT_EQ(outcomes(TU18ixa_cc_cond13), row.cc13);
    EXPECT_EQ(outcomes(TU18ixa_cc_cond14), row.cc14);
    EXPECT_EQ(outcomes(TU18ixa_cc_cond15), row.cc15);
    EXPECT_EQ(outcomes(TU18ixa_cc_cond16), row.cc16);
    EXPECT_EQ(outcomes(TU18ixa_dc_cond7), row.stage == 2 ? "T" : "F");
    EXPECT_EQ(outcomes(TU18ixa_dc_cond8), row.stage == 3 ? "T" : "F");
    EXPECT_EQ(outcomes(TU18ixa_dc_cond9), row.leds[0] ? "T" : "F");
    EXPECT_EQ(outcomes(TU18ixa_dc_cond10), row.leds[1] ? "T" : "F");
    EXPECT_EQ(TU18ixa_stm_cond13.hitCount, 1u);
    EXPECT_EQ(TU18ixa_dcf_cond12.reached, 1);
}

INSTANTIATE_TEST_SUITE_P(SeatHeatControl, Runa3Stage, testing::ValuesIn(kStages),
                         [](const testing::TestParamInfo<StageRow>& info) { return std::string(info.param.name); });

TEST(SeatHeatControl, InactiveRuna3LeavesTheCoilAndRepeatsTheLastLeds) {
    KIV_init_RTE_params();
    RteStub_TemperatureStage = 2;
    RteStub_ActivationCondition = 1;
    runa3();
    RteStub_ActivationCondition = 0;
    RteStub_TemperatureStage = 3;
    RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[0] = 0;
    runa3();
    EXPECT_EQ(dsout_HeatingActivate_SetHeatingCoil_temp, 35);
    EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[0], 1);
    EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[1], 1);
    EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[2], 0);
    EXPECT_EQ(outcomes(TU18ixa_dc_cond6), "FT");
    EXPECT_EQ(TU18ixa_stm_cond8.hitCount, 1u);
    EXPECT_EQ(TU18ixa_stm_cond13.hitCount, 1u);
    EXPECT_EQ(TU18ixa_stm_cond14.hitCount, 2u);
    EXPECT_EQ(TU18ixa_dcf_cond13.reached, 1);
}

TEST(SeatHeatControl, SecondInitKeepsStageAndRepublishesTheLeds) {
    KIV_init_RTE_params();
    SeatHeatControl_Init();
    runa2_with(0);
    press_and_release();
    press_and_release();
    RteStub_IF_SeatOccupied_SeatOccupied_SeatOccupied = 1;
    RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState = 1;
    runa1();
    runa3();
    for (uint8_t& led : RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback)
        led = 0xEE;
    RteStub_TemperatureStage = 0xEE;
    RteStub_ActivationCondition = 0xEE;

    SeatHeatControl_Init();
    EXPECT_EQ(state.StageCounter, 2);
    EXPECT_EQ(state.ActivationOk, 1);
    EXPECT_EQ(state.PrevPressEdge, 1);
    EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[0], 1);
    EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[1], 1);
    EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[2], 0);
    // The initialisation runnable writes neither inter-runnable variable.
    EXPECT_EQ(RteStub_TemperatureStage, 0xEE);
    EXPECT_EQ(RteStub_ActivationCondition, 0xEE);
    EXPECT_EQ(TU18ixa_stm_cond15.hitCount, 2u);
}

}  // namespace
