// The wrapper model of the seat heater controller in instrumented form
// (translation unit 16): schedules runa2, runa1 and runa3 once per step.
#include "unit/Wrapper_seat_heating_control.h"

#include "unit/seat_heating_control.h"

WrapperSeatHeatingControlState w_Wrapper_seat_heating_control_DW;
WrapperSeatHeatingControlInputs w_Wrapper_seat_heating_control_U;
WrapperSeatHeatingControlOutputs w_Wrapper_seat_heating_control_Y;
static WrapperSeatHeatingControlModel w_Wrapper_seat_heating_control_M_;
// The one global that is not zero at load: an address constant, so no code runs.
WrapperSeatHeatingControlModel* w_Wrapper_seat_heating_control_M = &w_Wrapper_seat_heating_control_M_;

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "unit/Wrapper_seat_heating_control_records.def"

constexpr int kTU16RecordCount = 0
#define IXA_RECORD(kind, rec, fn, text) +1
#include "unit/Wrapper_seat_heating_control_records.def"
    ;
static_assert(kTU16RecordCount == 38, "the wrapper unit owns 38 probe records");

// Records start zeroed at load and nothing clears them, so there is nothing to do.
[[maybe_unused]] static void KIV_TU16ixa_init_goals() {}

void dummy_caller_rte_funcs() {
    IXA_FC(1, &TU16ixa_fc_cond1);
    IXA_STM(1, &TU16ixa_stm_cond1);
}

// The counter goes 0 -> 1 at the top and back to 0 at the bottom of every
// step, so each runnable test below holds; the first step instead takes the
// activation branch, which clears the counter before its own three calls.
void Wrapper_seat_heating_control_step() {
    IXA_FC(2, &TU16ixa_fc_cond2);
    IXA_STM(2, &TU16ixa_stm_cond2);
    if (IXA_DC_S(1, &TU16ixa_dc_cond1,
                 IXA_LES_UU(1, &TU16_RELOP_1, w_Wrapper_seat_heating_control_DW.tick_counter, 1u))) {
        IXA_STM(3, &TU16ixa_stm_cond3);
        w_Wrapper_seat_heating_control_DW.tick_counter = (uint8_t)(w_Wrapper_seat_heating_control_DW.tick_counter + 1u);
    }
    IXA_STM(4, &TU16ixa_stm_cond4);
    if (IXA_DC_S(2, &TU16ixa_dc_cond2, IXA_EQU_UU(2, &TU16_RELOP_2, w_Wrapper_seat_heating_control_DW.is_active, 0u))) {
        IXA_STM(5, &TU16ixa_stm_cond5);
        w_Wrapper_seat_heating_control_DW.is_active = 1u;
        w_Wrapper_seat_heating_control_DW.tick_counter = 0u;
        IXA_DCF(1, &TU16ixa_dcf_cond1, "runa2");
        runa2();
        IXA_DCF(2, &TU16ixa_dcf_cond2, "runa1");
        runa1();
        IXA_DCF(3, &TU16ixa_dcf_cond3, "runa3");
        runa3();
    } else {
        IXA_STM(6, &TU16ixa_stm_cond6);
        if (IXA_DC_S(3, &TU16ixa_dc_cond3,
                     IXA_EQU_SS(3, &TU16_RELOP_3, w_Wrapper_seat_heating_control_DW.tick_counter, 1))) {
            IXA_STM(7, &TU16ixa_stm_cond7);
            IXA_DCF(4, &TU16ixa_dcf_cond4, "runa2");
            runa2();
        }
        IXA_STM(8, &TU16ixa_stm_cond8);
        if (IXA_DC_S(4, &TU16ixa_dc_cond4,
                     IXA_EQU_SS(4, &TU16_RELOP_4, w_Wrapper_seat_heating_control_DW.tick_counter, 1))) {
            IXA_STM(9, &TU16ixa_stm_cond9);
            IXA_DCF(5, &TU16ixa_dcf_cond5, "runa1");
            runa1();
        }
        IXA_STM(10, &TU16ixa_stm_cond10);
        if (IXA_DC_S(5, &TU16ixa_dc_cond5,
                     IXA_EQU_SS(5, &TU16_RELOP_5, w_Wrapper_seat_heating_control_DW.tick_counter, 1))) {
            IXA_STM(11, &TU16ixa_stm_cond11);
            IXA_DCF(6, &TU16ixa_dcf_cond6, "runa3");
            runa3();
        }
    }
    IXA_STM(12, &TU16ixa_stm_cond12);
    if (IXA_DC_S(6, &TU16ixa_dc_cond6,
                 IXA_EQU_UU(6, &TU16_RELOP_6, w_Wrapper_seat_heating_control_DW.tick_counter, 1u))) {
        IXA_STM(13, &TU16ixa_stm_cond13);
        w_Wrapper_seat_heating_control_DW.tick_counter = 0u;
    }
}

// Does not touch the wrapper state: a second initialisation keeps the schedule.
void Wrapper_seat_heating_control_initialize() {
    IXA_FC(3, &TU16ixa_fc_cond3);
    IXA_STM(14, &TU16ixa_stm_cond14);
    IXA_DCF(7, &TU16ixa_dcf_cond7, "SeatHeatControl_Init");
    SeatHeatControl_Init();
}

void Wrapper_seat_heating_control_terminate() {
    IXA_FC(4, &TU16ixa_fc_cond4);
    IXA_STM(15, &TU16ixa_stm_cond15);
}
