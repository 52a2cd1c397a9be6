// Calibration parameter access of SeatHeatControl's port TemperatureRanges.
#include "unit/Rte_SeatHeatControl.h"

uint8_t Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage1(void) {
    return Rte_Prm_TemperatureRanges_TemperatureStage1_data;
}

uint8_t Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage2(void) {
    return Rte_Prm_TemperatureRanges_TemperatureStage2_data;
}

uint8_t Rte_Prm_SeatHeatControl_TemperatureRanges_TemperatureStage3(void) {
    return Rte_Prm_TemperatureRanges_TemperatureStage3_data;
}
