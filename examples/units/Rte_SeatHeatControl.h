/* The runtime environment functions SeatHeatControl calls: the unit's view of
 * its ports, as the generated RTE header gives it to a plain C unit. */
#ifndef RTE_SEATHEATCONTROL_H
#define RTE_SEATHEATCONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint8_t Rte_IRead_SeatHeatControl_runa1_SeatOccupied_SeatOccupied(void);
uint8_t Rte_IRead_SeatHeatControl_runa1_PowerMgtState_PowerMgtState(void);
uint8_t Rte_IStatus_SeatHeatControl_runa1_PowerMgtState_PowerMgtState(void);
void Rte_IrvIWrite_SeatHeatControl_runa1_ActivationCondition(uint8_t value);
void Rte_IrvIWrite_SeatHeatControl_runa2_TemperatureStage(uint8_t value);
uint8_t Rte_IrvIRead_SeatHeatControl_runa3_ActivationCondition(void);
uint8_t Rte_IrvIRead_SeatHeatControl_runa3_TemperatureStage(void);
void Rte_IWrite_SeatHeatControl_runa3_LEDFeedback_LEDFeedback(const uint8_t* leds);
void Rte_IWrite_SeatHeatControl_SeatHeatControl_Init_LEDFeedback_LEDFeedback(const uint8_t* leds);
uint8_t Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage1(void);
uint8_t Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage2(void);
uint8_t Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage3(void);
uint8_t Rte_Call_SeatHeatControl_HeatingRequest_GetButtonPressed(uint8_t* pressed);
uint8_t Rte_Call_SeatHeatControl_HeatingActivate_SetHeatingCoil(uint8_t temperature);

#ifdef __cplusplus
}
#endif

#endif
