// The wrapper model that schedules the controller's runnables once per step,
// and its probe records (translation unit 16).
#pragma once

#include <cstdint>

#include "instrumentation/CodeAnnotation.h"

struct WrapperSeatHeatingControlState {
    uint8_t is_active;     // 0 until the first step has run, then 1 for good
    uint8_t tick_counter;  // 0 between steps, 1 while a step runs its runnables
};
// The component reaches its ports through the RTE stub, so the model has no
// external inputs or outputs of its own.
struct WrapperSeatHeatingControlInputs {};
struct WrapperSeatHeatingControlOutputs {};
struct WrapperSeatHeatingControlModel {
    const char* errorStatus;  // never set: the model has no error path
};

extern WrapperSeatHeatingControlState w_Wrapper_seat_heating_control_DW;
extern WrapperSeatHeatingControlInputs w_Wrapper_seat_heating_control_U;
extern WrapperSeatHeatingControlOutputs w_Wrapper_seat_heating_control_Y;
extern WrapperSeatHeatingControlModel* w_Wrapper_seat_heating_control_M;

// Calls SeatHeatControl_Init; leaves the wrapper's own state alone.
void Wrapper_seat_heating_control_initialize();
// Runs runa2, runa1 and runa3 once, in that order.
void Wrapper_seat_heating_control_step();
void Wrapper_seat_heating_control_terminate();
void dummy_caller_rte_funcs();

#define IXA_RECORD(kind, rec, fn, text) extern IXA_##kind##_RECORD rec;
#include "unit/Wrapper_seat_heating_control_records.def"
