// Client-server call stub HeatingRequest.GetButtonPressed, served by its mock.
#include "unit/Rte_SeatHeatControl.h"

// pressed must be valid; the call cannot fail, so the status is always 0.
uint8_t Rte_Call_SeatHeatControl_HeatingRequest_GetButtonPressed(uint8_t* pressed) {
    uint8_t status = 0;
    *pressed = Mock_HeatingRequest_GetButtonPressed();
    return status;
}
