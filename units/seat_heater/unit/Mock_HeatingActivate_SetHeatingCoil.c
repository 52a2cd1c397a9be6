// Heating coil mock: keeps the last temperature it was given for the step frame.
#include "unit/Rte_SeatHeatControl.h"

uint8_t dsout_HeatingActivate_SetHeatingCoil_temp;

void Mock_HeatingActivate_SetHeatingCoil(uint8_t temperature) {
    dsout_HeatingActivate_SetHeatingCoil_temp = temperature;
}
