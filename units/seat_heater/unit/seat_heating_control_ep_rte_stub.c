// RTE stub of SeatHeatControl: port and inter-runnable data as plain globals,
// and the implicit read/write functions over them.
#include "unit/Rte_SeatHeatControl.h"

uint8_t RteStub_IF_SeatOccupied_SeatOccupied_SeatOccupied;
uint8_t RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState;
uint8_t RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState_err;
uint8_t RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[3];
uint8_t RteStub_TemperatureStage;
uint8_t RteStub_ActivationCondition;

uint8_t Rte_Prm_TemperatureRanges_TemperatureStage1_data;
uint8_t Rte_Prm_TemperatureRanges_TemperatureStage2_data;
uint8_t Rte_Prm_TemperatureRanges_TemperatureStage3_data;

// Element by element, index 0 first; the old contents are not looked at.
static void copy_led_feedback(const uint8_t* leds) {
    for (int i = 0; i < 3; ++i) {
        RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[i] = leds[i];
    }
}

uint8_t Rte_IRead_SeatHeatControl_runa1_SeatOccupied_SeatOccupied(void) {
    return RteStub_IF_SeatOccupied_SeatOccupied_SeatOccupied;
}

uint8_t Rte_IRead_SeatHeatControl_runa1_PowerMgtState_PowerMgtState(void) {
    return RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState;
}

// Reading the status does not clear it.
uint8_t Rte_IStatus_SeatHeatControl_runa1_PowerMgtState_PowerMgtState(void) {
    return RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState_err;
}

void Rte_IrvIWrite_SeatHeatControl_runa1_ActivationCondition(uint8_t value) {
    RteStub_ActivationCondition = value;
}

void Rte_IrvIWrite_SeatHeatControl_runa2_TemperatureStage(uint8_t value) {
    RteStub_TemperatureStage = value;
}

uint8_t Rte_IrvIRead_SeatHeatControl_runa3_ActivationCondition(void) {
    return RteStub_ActivationCondition;
}

uint8_t Rte_IrvIRead_SeatHeatControl_runa3_TemperatureStage(void) {
    return RteStub_TemperatureStage;
}

// Declared writes of the initialisation runnable; nothing in the library calls them.
void Rte_IrvIWrite_SeatHeatControl_SeatHeatControl_Init_ActivationCondition(uint8_t value) {
    RteStub_ActivationCondition = value;
}

void Rte_IrvIWrite_SeatHeatControl_SeatHeatControl_Init_TemperatureStage(uint8_t value) {
    RteStub_TemperatureStage = value;
}

void Rte_IWrite_SeatHeatControl_runa3_LEDFeedback_LEDFeedback(const uint8_t* leds) {
    copy_led_feedback(leds);
}

void Rte_IWrite_SeatHeatControl_SeatHeatControl_Init_LEDFeedback_LEDFeedback(const uint8_t* leds) {
    copy_led_feedback(leds);
}

void KIV_init_RTE_params(void) {
    Rte_Prm_TemperatureRanges_TemperatureStage1_data = 30;
    Rte_Prm_TemperatureRanges_TemperatureStage2_data = 35;
    Rte_Prm_TemperatureRanges_TemperatureStage3_data = 45;
}
