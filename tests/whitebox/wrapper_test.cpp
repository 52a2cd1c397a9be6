// The wrapper model: its once-per-step schedule of the runnables, the probe
// records of both instrumented units, and which functions may touch which.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "unit/Rte_SeatHeatControl.h"
#include "unit/Wrapper_seat_heating_control.h"
#include "unit/seat_heating_control.h"

#include "record_outcomes.h"

namespace {

auto& dw = w_Wrapper_seat_heating_control_DW;

// Every probe record of both units, with the function that owns its call site,
// straight from the shared record tables.
struct RecordEntry {
    std::string name;
    std::string function;
    const void* address;
    std::size_t size;
};
const std::vector<RecordEntry> kRecords = {
#define IXA_RECORD(kind, rec, fn, text) {#rec, #fn, &rec, sizeof(rec)},
#include "unit/Wrapper_seat_heating_control_records.def"
#define IXA_RECORD(kind, rec, fn, text) {#rec, #fn, &rec, sizeof(rec)},
#include "unit/seat_heating_control_records.def"
};

using Snapshot = std::vector<std::string>;
Snapshot snapshot() {
    Snapshot bytes;
    for (const RecordEntry& r : kRecords)
        bytes.emplace_back(static_cast<const char*>(r.address), r.size);
    return bytes;
}

std::set<std::string> touched_by(void (*op)()) {
    Snapshot before = snapshot();
    op();
    Snapshot after = snapshot();
    std::set<std::string> names;
    for (std::size_t i = 0; i < kRecords.size(); ++i)
        if (before[i] != after[i]) names.insert(kRecords[i].name);
    return names;
}

std::set<std::string> records_of(std::initializer_list<const char*> functions) {
    std::set<std::string> names;
    for (const RecordEntry& r : kRecords)
        for (const char* fn : functions)
            if (r.function == fn) names.insert(r.name);
    return names;
}

void step_with_button(uint8_t button) {
    dsin_HeatingRequest_GetButtonPressed_status = button;
    Wrapper_seat_heating_control_step();
}

void heating_allowed() {
    KIV_init_RTE_params();
    RteStub_IF_SeatOccupied_SeatOccupied_SeatOccupied = 1;
    RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState = 1;
    RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState_err = 0;
}

// Four presses over nine steps: every stage, case and condition outcome.
void press_through_all_stages() {
    heating_allowed();
    step_with_button(0);
    for (int i = 0; i < 4; ++i) {
        step_with_button(1);
        step_with_button(0);
    }
}

TEST(WrapperRecords, TablesHoldThirtyEightPlusSixtySevenRecords) {
    EXPECT_EQ(kRecords.size(), 105u);
}

// --- which records an operation may touch ---

struct TouchRow {
    const char* name;
    void (*setup)();
    void (*op)();
    std::initializer_list<const char*> functions;
    bool exact;  // touches every record of those functions, not just a subset
};
void PrintTo(const TouchRow& row, std::ostream* os) {
    *os << row.name;
}

const TouchRow kTouches[] = {
    {"DummyCallerTouchesOnlyItsOwnTwo", [] {}, dummy_caller_rte_funcs, {"dummy_caller_rte_funcs"}, true},
    {"TerminateTouchesOnlyItsOwnTwo",
     [] {},
     Wrapper_seat_heating_control_terminate,
     {"Wrapper_seat_heating_control_terminate"},
     true},
    {"InitializeTouchesItselfAndTheControllerInit",
     [] {},
     Wrapper_seat_heating_control_initialize,
     {"Wrapper_seat_heating_control_initialize", "SeatHeatControl_Init"},
     true},
    {"ControllerInitTouchesOnlyItsOwn", [] {}, SeatHeatControl_Init, {"SeatHeatControl_Init"}, true},
    {"StepsNeverTouchInitialisationRecords",
     Wrapper_seat_heating_control_initialize,
     press_through_all_stages,
     {"Wrapper_seat_heating_control_step", "runa2", "runa1", "runa3"},
     false},
    {"Runa2TouchesOnlyItsOwn",
     SeatHeatControl_Init,
     [] {
         dsin_HeatingRequest_GetButtonPressed_status = 1;
         runa2();
     },
     {"runa2"},
     false},
    {"Runa1TouchesOnlyItsOwn", heating_allowed, runa1, {"runa1"}, false},
    {"Runa3TouchesOnlyItsOwn",
     heating_allowed,
     [] {
         RteStub_ActivationCondition = 1;
         runa3();
     },
     {"runa3"},
     false},
};

class WrapperTouches : public testing::TestWithParam<TouchRow> {};

TEST_P(WrapperTouches, OnlyRecordsOfTheFunctionsItRuns) {
    const TouchRow& row = GetParam();
    row.setup();
    std::set<std::string> touched = touched_by(row.op);
    std::set<std::string> allowed = records_of(row.functions);
    for (const std::string& name : touched)
        EXPECT_TRUE(allowed.count(name)) << name << " touched";
    if (row.exact) {
        EXPECT_EQ(touched, allowed);
    }
    EXPECT_FALSE(touched.empty());
}

INSTANTIATE_TEST_SUITE_P(WrapperRecords, WrapperTouches, testing::ValuesIn(kTouches),
                         [](const testing::TestParamInfo<TouchRow>& info) { return std::string(info.param.name); });

// --- records after n steps ---

class WrapperSteps : public testing::TestWithParam<int> {};

TEST_P(WrapperSteps, CountsAndOutcomesFollowTheSchedule) {
    const int n = GetParam();
    const uint32_t later = static_cast<uint32_t>(n - 1);
    const bool many = n > 1;
    Wrapper_seat_heating_control_initialize();
    KIV_init_RTE_params();
    for (int i = 0; i < n; ++i) {
        Wrapper_seat_heating_control_step();
        EXPECT_EQ(dw.tick_counter, 0) << "after step " << i + 1;
        EXPECT_EQ(dw.is_active, 1);
    }
    struct {
        const IXA_STM_RECORD& rec;
        uint32_t hits;
    } const counts[] = {
        {TU16ixa_stm_cond2, uint32_t(n)}, {TU16ixa_stm_cond3, uint32_t(n)},  {TU16ixa_stm_cond4, uint32_t(n)},
        {TU16ixa_stm_cond5, 1},           {TU16ixa_stm_cond6, later},        {TU16ixa_stm_cond7, later},
        {TU16ixa_stm_cond8, later},       {TU16ixa_stm_cond9, later},        {TU16ixa_stm_cond10, later},
        {TU16ixa_stm_cond11, later},      {TU16ixa_stm_cond12, uint32_t(n)}, {TU16ixa_stm_cond13, later},
    };
    for (std::size_t i = 0; i < std::size(counts); ++i) {
        SCOPED_TRACE("TU16ixa_stm_cond" + std::to_string(i + 2));
        EXPECT_EQ(counts[i].rec.hitCount, counts[i].hits);
    }
    // The counter test at the top only ever holds; so do the three runnable tests.
    EXPECT_EQ(outcomes(TU16ixa_dc_cond1), "T");
    EXPECT_EQ(outcomes(TU16ixa_dc_cond2), many ? "FT" : "T");
    EXPECT_EQ(outcomes(TU16ixa_dc_cond3), many ? "T" : "-");
    EXPECT_EQ(outcomes(TU16ixa_dc_cond4), many ? "T" : "-");
    EXPECT_EQ(outcomes(TU16ixa_dc_cond5), many ? "T" : "-");
    EXPECT_EQ(outcomes(TU16ixa_dc_cond6), many ? "FT" : "F");

    // tick_counter < 1 at 0; is_active == 0 at 0, then at 1; tick_counter == 1
    // at 1 in the else-block; at the end 0 on the first step, 1 later.
    EXPECT_EQ(outcomes(TU16_RELOP_1), "T");
    EXPECT_EQ(TU16_RELOP_1.oneBelow, 1);
    EXPECT_EQ(TU16_RELOP_2.equal, 1);
    EXPECT_EQ(TU16_RELOP_2.oneAbove, many);
    for (const IXA_RELOP_RECORD* rec : {&TU16_RELOP_3, &TU16_RELOP_4, &TU16_RELOP_5}) {
        EXPECT_EQ(outcomes(*rec), many ? "T" : "-");
        EXPECT_EQ(rec->equal, many);
    }
    EXPECT_EQ(TU16_RELOP_6.oneBelow, 1);
    EXPECT_EQ(TU16_RELOP_6.equal, many);

    for (const IXA_DCF_RECORD* rec : {&TU16ixa_dcf_cond1, &TU16ixa_dcf_cond2, &TU16ixa_dcf_cond3})
        EXPECT_EQ(rec->reached, 1);
    for (const IXA_DCF_RECORD* rec : {&TU16ixa_dcf_cond4, &TU16ixa_dcf_cond5, &TU16ixa_dcf_cond6})
        EXPECT_EQ(rec->reached, many);
    EXPECT_EQ(TU18ixa_stm_cond1.hitCount, uint32_t(n));
    EXPECT_EQ(TU18ixa_stm_cond6.hitCount, uint32_t(n));
    EXPECT_EQ(TU18ixa_stm_cond7.hitCount, uint32_t(n));
}

INSTANTIATE_TEST_SUITE_P(Wrapper, WrapperSteps, testing::Values(1, 2, 5),
                         [](const testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "Steps"; });

// --- behaviour through the wrapper ---

// runa2, runa1, runa3 in that order: the coil and LEDs follow a press and the
// activation in the very step that sees them.
TEST(Wrapper, EachStepHandsStageAndActivationToRuna3) {
    Wrapper_seat_heating_control_initialize();
    heating_allowed();
    dsout_HeatingActivate_SetHeatingCoil_temp = 0xEE;
    struct Row {
        uint8_t button;
        uint8_t stage, coil, led1, led2, led3;
    } const rows[] = {
        {0, 0, 0, 0, 0, 0},  {1, 1, 30, 1, 0, 0}, {1, 1, 30, 1, 0, 0}, {0, 1, 30, 1, 0, 0}, {1, 2, 35, 1, 1, 0},
        {0, 2, 35, 1, 1, 0}, {1, 3, 45, 1, 1, 1}, {0, 3, 45, 1, 1, 1}, {1, 0, 0, 0, 0, 0},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE("step " + std::to_string(++n));
        step_with_button(row.button);
        EXPECT_EQ(RteStub_TemperatureStage, row.stage);
        EXPECT_EQ(dsout_HeatingActivate_SetHeatingCoil_temp, row.coil);
        EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[0], row.led1);
        EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[1], row.led2);
        EXPECT_EQ(RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[2], row.led3);
    }
}

TEST(Wrapper, FirstStepAfterTheRunnablesRanAloneStillActivates) {
    SeatHeatControl_Init();
    runa2();
    runa1();
    runa3();
    Wrapper_seat_heating_control_step();
    EXPECT_EQ(outcomes(TU16ixa_dc_cond2), "T");
    EXPECT_EQ(TU16ixa_stm_cond5.hitCount, 1u);
    EXPECT_EQ(TU18ixa_stm_cond1.hitCount, 2u);
}

TEST(Wrapper, InitializeLeavesTheScheduleState) {
    Wrapper_seat_heating_control_step();
    Wrapper_seat_heating_control_initialize();
    EXPECT_EQ(dw.is_active, 1);
    EXPECT_EQ(dw.tick_counter, 0);
    EXPECT_NE(w_Wrapper_seat_heating_control_M, nullptr);
}

// --- a run that reaches every record ---

TEST(WrapperRecords, FullRunReachesEveryRecordAndNamesEveryCallee) {
    Wrapper_seat_heating_control_initialize();
    dummy_caller_rte_funcs();
    Wrapper_seat_heating_control_terminate();
    press_through_all_stages();

    // The narrowing probe never sees a bound crossed in range; its upper bound
    // is exercised with a corrupted stage in the controller's tests.
    for (const RecordEntry& r : kRecords) {
        SCOPED_TRACE(r.name);
        int32_t callerId;
        std::memcpy(&callerId, r.address, sizeof callerId);
        EXPECT_EQ(callerId, 0);
        if (r.name == "TU18_CAST_1") {  // in range: no flag, only how near the maximum came
            const auto& cast = *static_cast<const IXA_CAST_RECORD*>(r.address);
            EXPECT_EQ(cast.belowMin, 0);
            EXPECT_EQ(cast.aboveMax, 0);
            EXPECT_NE(cast.nearMax, 0u);
            continue;
        }
        const std::string zero(r.size, '\0');
        EXPECT_NE(std::string(static_cast<const char*>(r.address), r.size), zero);
    }

    struct {
        const IXA_DCF_RECORD& rec;
        const char* callee;
    } const callees[] = {
        {TU16ixa_dcf_cond1, "runa2"},
        {TU16ixa_dcf_cond2, "runa1"},
        {TU16ixa_dcf_cond3, "runa3"},
        {TU16ixa_dcf_cond4, "runa2"},
        {TU16ixa_dcf_cond5, "runa1"},
        {TU16ixa_dcf_cond6, "runa3"},
        {TU16ixa_dcf_cond7, "SeatHeatControl_Init"},
        {TU18ixa_dcf_cond1, "Rte_Call_SeatHeatControl_HeatingRequest_GetButtonPressed"},
        {TU18ixa_dcf_cond2, "Rte_IrvIWrite_SeatHeatControl_runa2_TemperatureStage"},
        {TU18ixa_dcf_cond3, "Rte_IStatus_SeatHeatControl_runa1_PowerMgtState_PowerMgtState"},
        {TU18ixa_dcf_cond4, "Rte_IRead_SeatHeatControl_runa1_SeatOccupied_SeatOccupied"},
        {TU18ixa_dcf_cond5, "Rte_IRead_SeatHeatControl_runa1_PowerMgtState_PowerMgtState"},
        {TU18ixa_dcf_cond6, "Rte_IrvIWrite_SeatHeatControl_runa1_ActivationCondition"},
        {TU18ixa_dcf_cond7, "Rte_IrvIRead_SeatHeatControl_runa3_TemperatureStage"},
        {TU18ixa_dcf_cond8, "Rte_IrvIRead_SeatHeatControl_runa3_ActivationCondition"},
        {TU18ixa_dcf_cond9, "Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage1"},
        {TU18ixa_dcf_cond10, "Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage2"},
        {TU18ixa_dcf_cond11, "Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage3"},
        {TU18ixa_dcf_cond12, "Rte_Call_SeatHeatControl_HeatingActivate_SetHeatingCoil"},
        {TU18ixa_dcf_cond13, "Rte_IWrite_SeatHeatControl_runa3_LEDFeedback_LEDFeedback"},
        {TU18ixa_dcf_cond14, "Rte_IWrite_SeatHeatControl_SeatHeatControl_Init_LEDFeedback_LEDFeedback"},
    };
    for (const auto& [rec, callee] : callees) {
        SCOPED_TRACE(callee);
        EXPECT_EQ(rec.reached, 1);
        ASSERT_NE(rec.calleeName, nullptr);
        EXPECT_EQ(std::string(rec.calleeName), callee);
    }
}

}  // namespace
