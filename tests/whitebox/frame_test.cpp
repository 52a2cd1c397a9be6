// The step frames seen from inside: what the copy-in feeds the unit, what the
// copy-out leaves in the output harness variables, and when each scope
// initialises. Every test runs in a fresh process.
#include <gtest/gtest.h>

#include <array>

#include "dllharness.h"
#include "unit/Rte_SeatHeatControl.h"
#include "frame/harness_variables.h"
#include "unit/Wrapper_seat_heating_control.h"
#include "unit/seat_heating_control.h"

namespace {

void step(int32_t scope) {
    KIV_SCOPE_UID = scope;
    kiv_dll_step();
}

std::array<uint8_t, 3> leds() {
    return {RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[0], RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[1],
            RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[2]};
}

// Parameters the host never wrote are copied in as 0 over the defaults that
// the first step's initialisation set.
TEST(Frame, UnwrittenParametersReachTheUnitAsZero) {
    kiv_haux21 = 1;  // activated
    kiv_haux22 = 1;  // stage 1
    step(997);
    EXPECT_EQ(Rte_Prm_TemperatureRanges_TemperatureStage1_data, 0);
    EXPECT_EQ(Rte_Prm_TemperatureRanges_TemperatureStage2_data, 0);
    EXPECT_EQ(Rte_Prm_TemperatureRanges_TemperatureStage3_data, 0);
    EXPECT_EQ(kiv_haux26, 0) << "coil temperature";
    EXPECT_EQ(kiv_haux23, 1) << "LED 1 still lit for stage 1";
}

// The runa1 and runa2 scopes copy no parameter in, so their first step
// leaves the defaults in place.
TEST(Frame, ScopesWithoutParameterInputsKeepTheDefaults) {
    step(987);
    EXPECT_EQ(Rte_Prm_TemperatureRanges_TemperatureStage1_data, 30);
    EXPECT_EQ(Rte_Prm_TemperatureRanges_TemperatureStage2_data, 35);
    EXPECT_EQ(Rte_Prm_TemperatureRanges_TemperatureStage3_data, 45);
}

struct Runa3Row {
    uint8_t stage;
    uint8_t temperature;
    std::array<uint8_t, 3> leds;
};

class Runa3Outputs : public ::testing::TestWithParam<Runa3Row> {};

TEST_P(Runa3Outputs, CopiedOutAfterTheUnitCall) {
    const Runa3Row r = GetParam();
    kiv_haux18 = 30;
    kiv_haux19 = 35;
    kiv_haux20 = 45;
    kiv_haux21 = 1;
    kiv_haux22 = r.stage;
    step(997);
    EXPECT_EQ(kiv_haux26, r.temperature);
    EXPECT_EQ((std::array<uint8_t, 3>{kiv_haux23, kiv_haux24, kiv_haux25}), r.leds);
    EXPECT_EQ(leds(), r.leds);
}

INSTANTIATE_TEST_SUITE_P(Stages, Runa3Outputs,
                         ::testing::Values(Runa3Row{0, 0, {0, 0, 0}}, Runa3Row{1, 30, {1, 0, 0}},
                                           Runa3Row{2, 35, {1, 1, 0}}, Runa3Row{3, 45, {1, 1, 1}},
                                           Runa3Row{7, 0, {0, 0, 0}}),
                         [](const auto& info) { return "stage" + std::to_string(info.param.stage); });

TEST(Frame, WrapperStepCopiesLedsAndCoilOut) {
    kiv_haux1 = 31;
    kiv_haux2 = 36;
    kiv_haux3 = 46;
    kiv_haux4 = 1;
    kiv_haux5 = 1;
    step(955);  // initialisation; stage 0 but activated
    kiv_haux11 = 1;
    step(955);  // press: stage 1
    kiv_haux11 = 0;
    step(955);
    kiv_haux11 = 1;
    step(955);  // stage 2
    EXPECT_EQ(kiv_haux10, 36);
    EXPECT_EQ(dsout_HeatingActivate_SetHeatingCoil_temp, 36);
    EXPECT_EQ((std::array<uint8_t, 3>{kiv_haux7, kiv_haux8, kiv_haux9}), (std::array<uint8_t, 3>{1, 1, 0}));
    EXPECT_EQ(kiv_haux23, 0) << "the runa3 scope's outputs belong to that scope alone";
}

TEST(Frame, Runa2ScopeOutputsTheStage) {
    step(981);  // initialisation arms the press filter
    kiv_haux13 = 0;
    step(981);
    for (uint8_t expected : {1, 2, 3, 0}) {
        kiv_haux13 = 1;
        step(981);
        EXPECT_EQ(kiv_haux12, expected);
        kiv_haux13 = 0;
        step(981);
    }
}

TEST(Frame, Runa1ScopeOutputsTheActivationCondition) {
    kiv_haux14 = 1;
    kiv_haux15 = 1;
    kiv_haux16 = 0;
    step(987);
    EXPECT_EQ(kiv_haux17, 1);
    kiv_haux16 = 2;  // reception error
    step(987);
    EXPECT_EQ(kiv_haux17, 0);
}

// The first-call flags are per scope; the unit state is shared.
TEST(Frame, EachScopeInitialisesOnceOnItsOwnFirstStep) {
    step(987);
    step(987);
    EXPECT_EQ(TU18ixa_fc_cond4.reached, 1);
    EXPECT_EQ(TU18ixa_stm_cond15.hitCount, 1u);
    step(997);
    EXPECT_EQ(TU18ixa_stm_cond15.hitCount, 2u);
    step(987);
    step(997);
    EXPECT_EQ(TU18ixa_stm_cond15.hitCount, 2u);
    step(955);
    EXPECT_EQ(TU16ixa_stm_cond14.hitCount, 1u) << "wrapper initialisation";
    EXPECT_EQ(TU18ixa_stm_cond15.hitCount, 3u) << "which initialises the controller again";
    EXPECT_EQ(w_Wrapper_seat_heating_control_DW.is_active, 1);
}

TEST(Frame, SelectorIsReadNotWritten) {
    step(987);
    EXPECT_EQ(KIV_SCOPE_UID, 987);
    step(12345);
    EXPECT_EQ(KIV_SCOPE_UID, 12345);
    EXPECT_EQ(TU18ixa_stm_cond6.hitCount, 1u);
}

}  // namespace
