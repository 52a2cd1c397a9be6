// What the runtime's frames need of the seat heater: the scope functions, the
// variables the harness variables are copied from and to, and the
// environment's set-up on a scope's first step.
#pragma once

#include "unit/Rte_SeatHeatControl.h"
#include "unit/Wrapper_seat_heating_control.h"
#include "unit/seat_heating_control.h"

// The calibration defaults, after the unit's own initialisation; the copy-in
// of the same step then overwrites those the scope feeds.
#define KIV_UNIT_ENVIRONMENT_INIT() KIV_init_RTE_params()
