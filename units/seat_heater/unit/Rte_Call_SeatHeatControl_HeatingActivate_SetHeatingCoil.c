// Client-server call stub HeatingActivate.SetHeatingCoil, served by its mock.
#include "unit/Rte_SeatHeatControl.h"

// The call cannot fail, so the status is always 0.
uint8_t Rte_Call_SeatHeatControl_HeatingActivate_SetHeatingCoil(uint8_t temperature) {
    uint8_t status = 0;
    Mock_HeatingActivate_SetHeatingCoil(temperature);
    return status;
}
