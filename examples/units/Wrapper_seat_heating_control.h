/* The wrapper model that schedules the controller's runnables once per step. */
#ifndef WRAPPER_SEAT_HEATING_CONTROL_H
#define WRAPPER_SEAT_HEATING_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct WrapperSeatHeatingControlState {
    uint8_t is_active;    /* 0 until the first step has run, then 1 for good */
    uint8_t tick_counter; /* 0 between steps, 1 while a step runs its runnables */
} WrapperSeatHeatingControlState;
/* The component reaches its ports through the RTE, so the model has no
 * external inputs or outputs of its own. ISO C has no empty struct (GNU C
 * gives one size 0, C++ size 1), so each holds one unused byte: the C unit
 * and the C++ frames that see it agree on its size. */
typedef struct WrapperSeatHeatingControlInputs {
    uint8_t unused;
} WrapperSeatHeatingControlInputs;
typedef struct WrapperSeatHeatingControlOutputs {
    uint8_t unused;
} WrapperSeatHeatingControlOutputs;
typedef struct WrapperSeatHeatingControlModel {
    const char* errorStatus;
} WrapperSeatHeatingControlModel;

extern WrapperSeatHeatingControlState w_Wrapper_seat_heating_control_DW;
extern WrapperSeatHeatingControlInputs w_Wrapper_seat_heating_control_U;
extern WrapperSeatHeatingControlOutputs w_Wrapper_seat_heating_control_Y;
extern WrapperSeatHeatingControlModel* w_Wrapper_seat_heating_control_M;

void Wrapper_seat_heating_control_initialize(void);
void Wrapper_seat_heating_control_step(void);
void Wrapper_seat_heating_control_terminate(void);
void dummy_caller_rte_funcs(void);

#ifdef __cplusplus
}
#endif

#endif
