// RTE stub, calibration parameters and mocks: every access reads or replaces
// exactly the byte it names, and the client-server calls reach their mocks.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <utility>

#include "unit/Rte_SeatHeatControl.h"

namespace {

// Every byte of the component's environment.
uint8_t* const kStubBytes[] = {
    &RteStub_IF_SeatOccupied_SeatOccupied_SeatOccupied,
    &RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState,
    &RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState_err,
    &RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[0],
    &RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[1],
    &RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[2],
    &RteStub_TemperatureStage,
    &RteStub_ActivationCondition,
    &Rte_Prm_TemperatureRanges_TemperatureStage1_data,
    &Rte_Prm_TemperatureRanges_TemperatureStage2_data,
    &Rte_Prm_TemperatureRanges_TemperatureStage3_data,
    &dsin_HeatingRequest_GetButtonPressed_status,
    &dsout_HeatingActivate_SetHeatingCoil_temp,
};

// Distinct values that no write below stores.
uint8_t sentinel(std::size_t i) {
    return static_cast<uint8_t>(0xA0 + i);
}

struct WriteRow {
    const char* name;
    void (*write)();
    std::initializer_list<std::pair<uint8_t*, uint8_t>> changes;  // every byte expected to change
};

const uint8_t kLeds100[3] = {1, 0, 0};
const uint8_t kLeds011[3] = {0, 1, 1};

const WriteRow kWrites[] = {
    {"IrvWriteOfActivationConditionByRuna1",
     [] { Rte_IrvIWrite_SeatHeatControl_runa1_ActivationCondition(1); },
     {{&RteStub_ActivationCondition, 1}}},
    {"IrvWriteOfTemperatureStageByRuna2",
     [] { Rte_IrvIWrite_SeatHeatControl_runa2_TemperatureStage(3); },
     {{&RteStub_TemperatureStage, 3}}},
    {"IrvWriteOfActivationConditionByInit",
     [] { Rte_IrvIWrite_SeatHeatControl_SeatHeatControl_Init_ActivationCondition(1); },
     {{&RteStub_ActivationCondition, 1}}},
    {"IrvWriteOfTemperatureStageByInit",
     [] { Rte_IrvIWrite_SeatHeatControl_SeatHeatControl_Init_TemperatureStage(2); },
     {{&RteStub_TemperatureStage, 2}}},
    {"LedWriteByRuna3",
     [] { Rte_IWrite_SeatHeatControl_runa3_LEDFeedback_LEDFeedback(kLeds100); },
     {{&RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[0], 1},
      {&RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[1], 0},
      {&RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[2], 0}}},
    {"LedWriteByInit",
     [] { Rte_IWrite_SeatHeatControl_SeatHeatControl_Init_LEDFeedback_LEDFeedback(kLeds011); },
     {{&RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[0], 0},
      {&RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[1], 1},
      {&RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[2], 1}}},
    {"SetHeatingCoilCall",
     [] { EXPECT_EQ(Rte_Call_SeatHeatControl_HeatingActivate_SetHeatingCoil(35), 0); },
     {{&dsout_HeatingActivate_SetHeatingCoil_temp, 35}}},
    {"GetButtonPressedCallPassesTheMockValueThroughItsPointer",
     [] {
         for (uint8_t button : {uint8_t{1}, uint8_t{0}}) {
             dsin_HeatingRequest_GetButtonPressed_status = button;
             uint8_t pressed = 0xEE;
             EXPECT_EQ(Rte_Call_SeatHeatControl_HeatingRequest_GetButtonPressed(&pressed), 0);
             EXPECT_EQ(pressed, button);
         }
     },
     {{&dsin_HeatingRequest_GetButtonPressed_status, 0}}},
    {"CalibrationDefaults",
     [] { KIV_init_RTE_params(); },
     {{&Rte_Prm_TemperatureRanges_TemperatureStage1_data, 30},
      {&Rte_Prm_TemperatureRanges_TemperatureStage2_data, 35},
      {&Rte_Prm_TemperatureRanges_TemperatureStage3_data, 45}}},
};

void PrintTo(const WriteRow& row, std::ostream* os) {
    *os << row.name;
}

class StubWrite : public testing::TestWithParam<WriteRow> {};

TEST_P(StubWrite, ChangesExactlyTheBytesItNames) {
    for (std::size_t i = 0; i < std::size(kStubBytes); ++i)
        *kStubBytes[i] = sentinel(i);
    GetParam().write();
    for (std::size_t i = 0; i < std::size(kStubBytes); ++i) {
        SCOPED_TRACE("stub byte " + std::to_string(i));
        uint8_t expected = sentinel(i);
        for (const auto& [byte, value] : GetParam().changes) {
            if (byte == kStubBytes[i]) expected = value;
        }
        EXPECT_EQ(*kStubBytes[i], expected);
    }
}

INSTANTIATE_TEST_SUITE_P(RteStub, StubWrite, testing::ValuesIn(kWrites),
                         [](const testing::TestParamInfo<WriteRow>& info) { return std::string(info.param.name); });

struct ReadRow {
    const char* name;
    uint8_t (*read)();
    uint8_t* source;
};

const ReadRow kReads[] = {
    {"SeatOccupied", Rte_IRead_SeatHeatControl_runa1_SeatOccupied_SeatOccupied,
     &RteStub_IF_SeatOccupied_SeatOccupied_SeatOccupied},
    {"PowerMgtState", Rte_IRead_SeatHeatControl_runa1_PowerMgtState_PowerMgtState,
     &RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState},
    {"PowerMgtStateStatus", Rte_IStatus_SeatHeatControl_runa1_PowerMgtState_PowerMgtState,
     &RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState_err},
    {"ActivationCondition", Rte_IrvIRead_SeatHeatControl_runa3_ActivationCondition, &RteStub_ActivationCondition},
    {"TemperatureStage", Rte_IrvIRead_SeatHeatControl_runa3_TemperatureStage, &RteStub_TemperatureStage},
    {"TemperatureStage1", Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage1,
     &Rte_Prm_TemperatureRanges_TemperatureStage1_data},
    {"TemperatureStage2", Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage2,
     &Rte_Prm_TemperatureRanges_TemperatureStage2_data},
    {"TemperatureStage3", Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage3,
     &Rte_Prm_TemperatureRanges_TemperatureStage3_data},
    {"ButtonMock", Mock_HeatingRequest_GetButtonPressed, &dsin_HeatingRequest_GetButtonPressed_status},
};

void PrintTo(const ReadRow& row, std::ostream* os) {
    *os << row.name;
}

class StubRead : public testing::TestWithParam<ReadRow> {};

// A status of 3 comes back as 3 and stays: reading does not clear it.
TEST_P(StubRead, ReturnsTheCurrentByteUnchangedAndLeavesIt) {
    for (uint8_t value : {uint8_t{0}, uint8_t{1}, uint8_t{3}, uint8_t{255}}) {
        SCOPED_TRACE(static_cast<int>(value));
        *GetParam().source = value;
        EXPECT_EQ(GetParam().read(), value);
        EXPECT_EQ(GetParam().read(), value);
        EXPECT_EQ(*GetParam().source, value);
    }
}

INSTANTIATE_TEST_SUITE_P(RteStub, StubRead, testing::ValuesIn(kReads),
                         [](const testing::TestParamInfo<ReadRow>& info) { return std::string(info.param.name); });

}  // namespace
