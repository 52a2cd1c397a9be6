// SeatHeatControl, the seat heater controller, in instrumented form
// (translation unit 18): every block, call, decision, condition, comparison,
// narrowing and switch case reports to a probe record of its own.
#include "unit/seat_heating_control.h"

#include "unit/Rte_SeatHeatControl.h"

SeatHeatControlState seat_heating_control_ARID_DEF;

#define IXA_RECORD(kind, rec, fn, text) IXA_##kind##_RECORD rec;
#include "unit/seat_heating_control_records.def"

constexpr int kTU18RecordCount = 0
#define IXA_RECORD(kind, rec, fn, text) +1
#include "unit/seat_heating_control_records.def"
    ;
static_assert(kTU18RecordCount == 67, "the controller unit owns 67 probe records");

// Records start zeroed at load and nothing clears them, so there is nothing to do.
[[maybe_unused]] static void KIV_TU18ixa_init_goals() {}

void runa2() {
    uint8_t ButtonPressed;
    uint8_t PressEdge;

    IXA_FC(1, &TU18ixa_fc_cond1);
    IXA_STM(1, &TU18ixa_stm_cond1);
    IXA_DCF(1, &TU18ixa_dcf_cond1, "Rte_Call_SeatHeatControl_HeatingRequest_GetButtonPressed");
    (void)Rte_Call_SeatHeatControl_HeatingRequest_GetButtonPressed(&ButtonPressed);

    // Rising edge: pressed now, not pressed on the previous call.
    PressEdge = IXA_DC_S(1, &TU18ixa_dc_cond1,
                         IXA_CC_U(1, &TU18ixa_cc_cond1, ButtonPressed) &&
                             IXA_CC_S(2, &TU18ixa_cc_cond2, seat_heating_control_ARID_DEF.PrevButtonPressed ^ 1)) != 0;

    // An edge right after initialisation (PrevPressEdge armed at 1) is not counted.
    if (IXA_DC_S(2, &TU18ixa_dc_cond2,
                 IXA_CC_U(3, &TU18ixa_cc_cond3, PressEdge) &&
                     IXA_CC_S(4, &TU18ixa_cc_cond4,
                              IXA_NEQ_UU(1, &TU18_RELOP_1, seat_heating_control_ARID_DEF.PrevPressEdge, 1u)))) {
        IXA_STM(2, &TU18ixa_stm_cond2);
        uint8_t next = (uint8_t)IXA_CAST_U(1, &TU18_CAST_1, seat_heating_control_ARID_DEF.StageCounter + 1u, 0, 255);
        if (IXA_DC_S(3, &TU18ixa_dc_cond3, IXA_EQU_SS(2, &TU18_RELOP_2, next, 4))) {
            IXA_STM(3, &TU18ixa_stm_cond3);
            seat_heating_control_ARID_DEF.StageCounter = 0u;
        } else {
            IXA_STM(4, &TU18ixa_stm_cond4);
            seat_heating_control_ARID_DEF.StageCounter = (uint8_t)(seat_heating_control_ARID_DEF.StageCounter + 1u);
        }
    }
    IXA_STM(5, &TU18ixa_stm_cond5);
    seat_heating_control_ARID_DEF.PrevPressEdge = PressEdge;
    seat_heating_control_ARID_DEF.PrevButtonPressed = ButtonPressed;
    IXA_DCF(2, &TU18ixa_dcf_cond2, "Rte_IrvIWrite_SeatHeatControl_runa2_TemperatureStage");
    Rte_IrvIWrite_SeatHeatControl_runa2_TemperatureStage(seat_heating_control_ARID_DEF.StageCounter);
}

void runa1() {
    uint8_t status;

    IXA_FC(2, &TU18ixa_fc_cond2);
    IXA_STM(6, &TU18ixa_stm_cond6);
    IXA_DCF(3, &TU18ixa_dcf_cond3, "Rte_IStatus_SeatHeatControl_runa1_PowerMgtState_PowerMgtState");
    status = Rte_IStatus_SeatHeatControl_runa1_PowerMgtState_PowerMgtState();
    seat_heating_control_ARID_DEF.ActivationOk =
        IXA_DC_S(4, &TU18ixa_dc_cond4, IXA_EQU_SS(3, &TU18_RELOP_3, status, 0)) != 0;

    // The state is read only for an occupied seat, and the status verdict
    // consulted only for state 1: the calls sit inside their operands.
    IXA_DCF(4, &TU18ixa_dcf_cond4, "Rte_IRead_SeatHeatControl_runa1_SeatOccupied_SeatOccupied");
    uint8_t occupied = Rte_IRead_SeatHeatControl_runa1_SeatOccupied_SeatOccupied();
    seat_heating_control_ARID_DEF.ActivationOk =
        IXA_DC_S(5, &TU18ixa_dc_cond5,
                 IXA_CC_U(5, &TU18ixa_cc_cond5, occupied) &&
                     IXA_CC_S(6, &TU18ixa_cc_cond6,
                              IXA_EQU_SS(4, &TU18_RELOP_4,
                                         (IXA_DCF(5, &TU18ixa_dcf_cond5,
                                                  "Rte_IRead_SeatHeatControl_runa1_PowerMgtState_PowerMgtState"),
                                          Rte_IRead_SeatHeatControl_runa1_PowerMgtState_PowerMgtState()),
                                         1)) &&
                     IXA_CC_U(7, &TU18ixa_cc_cond7, seat_heating_control_ARID_DEF.ActivationOk)) != 0;

    IXA_DCF(6, &TU18ixa_dcf_cond6, "Rte_IrvIWrite_SeatHeatControl_runa1_ActivationCondition");
    Rte_IrvIWrite_SeatHeatControl_runa1_ActivationCondition(seat_heating_control_ARID_DEF.ActivationOk);
}

void runa3() {
    uint8_t stage;
    uint8_t temperature;
    uint8_t StageIs2;

    IXA_FC(3, &TU18ixa_fc_cond3);
    IXA_STM(7, &TU18ixa_stm_cond7);
    IXA_DCF(7, &TU18ixa_dcf_cond7, "Rte_IrvIRead_SeatHeatControl_runa3_TemperatureStage");
    stage = Rte_IrvIRead_SeatHeatControl_runa3_TemperatureStage();

    // While heating is not allowed the coil is left alone and the LEDs keep
    // the states of the last activated call.
    if (IXA_DC_U(6, &TU18ixa_dc_cond6,
                 (IXA_DCF(8, &TU18ixa_dcf_cond8, "Rte_IrvIRead_SeatHeatControl_runa3_ActivationCondition"),
                  Rte_IrvIRead_SeatHeatControl_runa3_ActivationCondition()))) {
        IXA_STM(8, &TU18ixa_stm_cond8);
        switch (stage) {
            case 1:
                IXA_SC(8, &TU18ixa_sc_cond8);
                IXA_STM(9, &TU18ixa_stm_cond9);
                IXA_DCF(9, &TU18ixa_dcf_cond9, "Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage1");
                temperature = Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage1();
                break;
            case 2:
                IXA_SC(9, &TU18ixa_sc_cond9);
                IXA_STM(10, &TU18ixa_stm_cond10);
                IXA_DCF(10, &TU18ixa_dcf_cond10, "Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage2");
                temperature = Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage2();
                break;
            case 3:
                IXA_SC(10, &TU18ixa_sc_cond10);
                IXA_STM(11, &TU18ixa_stm_cond11);
                IXA_DCF(11, &TU18ixa_dcf_cond11, "Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage3");
                temperature = Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage3();
                break;
            default:
                // The runa3 scope can be fed any byte as the stage.
                IXA_SC(11, &TU18ixa_sc_cond11);
                IXA_STM(12, &TU18ixa_stm_cond12);
                temperature = 0u;
                break;
        }
        IXA_STM(13, &TU18ixa_stm_cond13);
        IXA_DCF(12, &TU18ixa_dcf_cond12, "Rte_Call_SeatHeatControl_HeatingActivate_SetHeatingCoil");
        (void)Rte_Call_SeatHeatControl_HeatingActivate_SetHeatingCoil(temperature);

        StageIs2 = IXA_DC_S(7, &TU18ixa_dc_cond7, IXA_EQU_SS(5, &TU18_RELOP_5, stage, 2)) != 0;
        seat_heating_control_ARID_DEF.LedStage3 =
            IXA_DC_S(8, &TU18ixa_dc_cond8, IXA_EQU_SS(6, &TU18_RELOP_6, stage, 3)) != 0;
        seat_heating_control_ARID_DEF.LedStage1 =
            IXA_DC_S(9, &TU18ixa_dc_cond9,
                     IXA_CC_S(12, &TU18ixa_cc_cond12, IXA_EQU_SS(7, &TU18_RELOP_7, stage, 1)) ||
                         IXA_CC_U(13, &TU18ixa_cc_cond13, StageIs2) ||
                         IXA_CC_U(14, &TU18ixa_cc_cond14, seat_heating_control_ARID_DEF.LedStage3)) != 0;
        seat_heating_control_ARID_DEF.LedStage2 =
            IXA_DC_S(10, &TU18ixa_dc_cond10,
                     IXA_CC_U(15, &TU18ixa_cc_cond15, StageIs2) ||
                         IXA_CC_U(16, &TU18ixa_cc_cond16, seat_heating_control_ARID_DEF.LedStage3)) != 0;
    }
    IXA_STM(14, &TU18ixa_stm_cond14);
    const uint8_t leds[3] = {seat_heating_control_ARID_DEF.LedStage1, seat_heating_control_ARID_DEF.LedStage2,
                             seat_heating_control_ARID_DEF.LedStage3};
    IXA_DCF(13, &TU18ixa_dcf_cond13, "Rte_IWrite_SeatHeatControl_runa3_LEDFeedback_LEDFeedback");
    Rte_IWrite_SeatHeatControl_runa3_LEDFeedback_LEDFeedback(leds);
}

void SeatHeatControl_Init() {
    IXA_FC(4, &TU18ixa_fc_cond4);
    IXA_STM(15, &TU18ixa_stm_cond15);
    seat_heating_control_ARID_DEF.PrevPressEdge = 1u;
    const uint8_t leds[3] = {seat_heating_control_ARID_DEF.LedStage1, seat_heating_control_ARID_DEF.LedStage2,
                             seat_heating_control_ARID_DEF.LedStage3};
    IXA_DCF(14, &TU18ixa_dcf_cond14, "Rte_IWrite_SeatHeatControl_SeatHeatControl_Init_LEDFeedback_LEDFeedback");
    Rte_IWrite_SeatHeatControl_SeatHeatControl_Init_LEDFeedback_LEDFeedback(leds);
}
