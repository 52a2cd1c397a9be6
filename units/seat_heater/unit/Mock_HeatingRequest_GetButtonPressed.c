// Button mock: delivers whatever the step frame put into its input variable.
#include "unit/Rte_SeatHeatControl.h"

uint8_t dsin_HeatingRequest_GetButtonPressed_status;

uint8_t Mock_HeatingRequest_GetButtonPressed(void) {
    return dsin_HeatingRequest_GetButtonPressed_status;
}
