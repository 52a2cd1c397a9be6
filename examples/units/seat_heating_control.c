/* SeatHeatControl, the seat heater controller, plain: the input of kivinst
 * (translation unit 18). */
#include "seat_heating_control.h"

#include "Rte_SeatHeatControl.h"

SeatHeatControlState seat_heating_control_ARID_DEF;

/* Heating stage from button presses: each rising edge advances 0, 1, 2, 3, 0. */
void runa2(void)
{
    uint8_t ButtonPressed;
    uint8_t PressEdge;

    (void)Rte_Call_SeatHeatControl_HeatingRequest_GetButtonPressed(&ButtonPressed);

    /* Rising edge: pressed now, not pressed on the previous call. */
    PressEdge = ButtonPressed && (seat_heating_control_ARID_DEF.PrevButtonPressed ^ 1);

    /* An edge right after initialisation (PrevPressEdge armed at 1) is not counted. */
    if (PressEdge && seat_heating_control_ARID_DEF.PrevPressEdge != 1u) {
        uint8_t next = (uint8_t)(seat_heating_control_ARID_DEF.StageCounter + 1u);
        if (next == 4) {
            seat_heating_control_ARID_DEF.StageCounter = 0u;
        } else {
            seat_heating_control_ARID_DEF.StageCounter++;
        }
    }
    seat_heating_control_ARID_DEF.PrevPressEdge = PressEdge;
    seat_heating_control_ARID_DEF.PrevButtonPressed = ButtonPressed;
    Rte_IrvIWrite_SeatHeatControl_runa2_TemperatureStage(seat_heating_control_ARID_DEF.StageCounter);
}

/* Activation condition from seat occupancy and power management state. */
void runa1(void)
{
    uint8_t status;

    status = Rte_IStatus_SeatHeatControl_runa1_PowerMgtState_PowerMgtState();
    seat_heating_control_ARID_DEF.ActivationOk = status == 0;

    /* The state is read only for an occupied seat, and the status verdict
     * consulted only for state 1. */
    uint8_t occupied = Rte_IRead_SeatHeatControl_runa1_SeatOccupied_SeatOccupied();
    seat_heating_control_ARID_DEF.ActivationOk =
        occupied && Rte_IRead_SeatHeatControl_runa1_PowerMgtState_PowerMgtState() == 1 &&
        seat_heating_control_ARID_DEF.ActivationOk;

    Rte_IrvIWrite_SeatHeatControl_runa1_ActivationCondition(seat_heating_control_ARID_DEF.ActivationOk);
}

/* Coil temperature and LED feedback for the current stage. */
void runa3(void)
{
    uint8_t stage;
    uint8_t temperature;
    uint8_t StageIs2;

    stage = Rte_IrvIRead_SeatHeatControl_runa3_TemperatureStage();

    /* While heating is not allowed the coil is left alone and the LEDs keep
     * the states of the last activated call. */
    if (Rte_IrvIRead_SeatHeatControl_runa3_ActivationCondition()) {
        switch (stage) {
        case 1:
            temperature = Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage1();
            break;
        case 2:
            temperature = Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage2();
            break;
        case 3:
            temperature = Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage3();
            break;
        default:
            temperature = 0u;
            break;
        }
        (void)Rte_Call_SeatHeatControl_HeatingActivate_SetHeatingCoil(temperature);

        StageIs2 = stage == 2;
        seat_heating_control_ARID_DEF.LedStage3 = stage == 3;
        seat_heating_control_ARID_DEF.LedStage1 =
            stage == 1 || StageIs2 || seat_heating_control_ARID_DEF.LedStage3;
        seat_heating_control_ARID_DEF.LedStage2 = StageIs2 || seat_heating_control_ARID_DEF.LedStage3;
    }
    const uint8_t leds[3] = {seat_heating_control_ARID_DEF.LedStage1, seat_heating_control_ARID_DEF.LedStage2,
                             seat_heating_control_ARID_DEF.LedStage3};
    Rte_IWrite_SeatHeatControl_runa3_LEDFeedback_LEDFeedback(leds);
}

/* Arms the press filter and republishes the LED states; keeps everything else. */
void SeatHeatControl_Init(void)
{
    seat_heating_control_ARID_DEF.PrevPressEdge = 1u;
    const uint8_t leds[3] = {seat_heating_control_ARID_DEF.LedStage1, seat_heating_control_ARID_DEF.LedStage2,
                             seat_heating_control_ARID_DEF.LedStage3};
    Rte_IWrite_SeatHeatControl_SeatHeatControl_Init_LEDFeedback_LEDFeedback(leds);
}
