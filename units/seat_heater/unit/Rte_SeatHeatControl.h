// The runtime environment of SeatHeatControl as the component and the step
// frames see it: stub data, calibration parameters, mock data and the RTE
// functions over them. All internal to the library; none of it is exported.
#ifndef KIV_SEAT_HEATER_RTE_H
#define KIV_SEAT_HEATER_RTE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Port and inter-runnable data; booleans hold 0 or 1.
extern uint8_t RteStub_IF_SeatOccupied_SeatOccupied_SeatOccupied;
extern uint8_t RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState;
extern uint8_t RteStub_IF_PowerMgtState_PowerMgtState_PowerMgtState_err;  // reception status, 0 = no error
extern uint8_t RteStub_IF_LEDFeedback_LEDFeedback_LEDFeedback[3];         // LED 1, 2, 3 of the stage bar
extern uint8_t RteStub_TemperatureStage;
extern uint8_t RteStub_ActivationCondition;

// Calibration parameters of port TemperatureRanges.
extern uint8_t Rte_Prm_TemperatureRanges_TemperatureStage1_data;
extern uint8_t Rte_Prm_TemperatureRanges_TemperatureStage2_data;
extern uint8_t Rte_Prm_TemperatureRanges_TemperatureStage3_data;

// Mock data: what the button mock delivers, what the coil mock last received.
extern uint8_t dsin_HeatingRequest_GetButtonPressed_status;
extern uint8_t dsout_HeatingActivate_SetHeatingCoil_temp;

// Implicit port access and inter-runnable variables: each reads or replaces
// one stub byte, with no buffering, filtering or range check.
uint8_t Rte_IRead_SeatHeatControl_runa1_SeatOccupied_SeatOccupied(void);
uint8_t Rte_IRead_SeatHeatControl_runa1_PowerMgtState_PowerMgtState(void);
uint8_t Rte_IStatus_SeatHeatControl_runa1_PowerMgtState_PowerMgtState(void);
void Rte_IrvIWrite_SeatHeatControl_runa1_ActivationCondition(uint8_t value);
void Rte_IrvIWrite_SeatHeatControl_runa2_TemperatureStage(uint8_t value);
uint8_t Rte_IrvIRead_SeatHeatControl_runa3_ActivationCondition(void);
uint8_t Rte_IrvIRead_SeatHeatControl_runa3_TemperatureStage(void);
void Rte_IrvIWrite_SeatHeatControl_SeatHeatControl_Init_ActivationCondition(uint8_t value);
void Rte_IrvIWrite_SeatHeatControl_SeatHeatControl_Init_TemperatureStage(uint8_t value);
// Both copy the three bytes at leds (which must be valid) into the LED stub.
void Rte_IWrite_SeatHeatControl_runa3_LEDFeedback_LEDFeedback(const uint8_t* leds);
void Rte_IWrite_SeatHeatControl_SeatHeatControl_Init_LEDFeedback_LEDFeedback(const uint8_t* leds);

// Calibration parameter access.
uint8_t Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage1(void);
uint8_t Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage2(void);
uint8_t Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage3(void);

// Client-server calls: forward to the mock and return status 0, always.
uint8_t Rte_Call_SeatHeatControl_HeatingRequest_GetButtonPressed(uint8_t* pressed);
uint8_t Rte_Call_SeatHeatControl_HeatingActivate_SetHeatingCoil(uint8_t temperature);

// The mocks behind the calls.
uint8_t Mock_HeatingRequest_GetButtonPressed(void);
void Mock_HeatingActivate_SetHeatingCoil(uint8_t temperature);

// Sets the three calibration parameters to their defaults and nothing else.
void KIV_init_RTE_params(void);

#ifdef __cplusplus
}
#endif

#endif
