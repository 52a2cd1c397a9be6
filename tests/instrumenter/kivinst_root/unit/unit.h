// The seat heater's scope functions as the plain units declare them, for the
// test libraries built from kivinst's output and from the plain sources.
#pragma once

#include "Wrapper_seat_heating_control.h"
#include "seat_heating_control.h"
#include "unit/Rte_SeatHeatControl.h"

#define KIV_UNIT_ENVIRONMENT_INIT() KIV_init_RTE_params()
