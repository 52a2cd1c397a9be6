/* The wrapper model of the seat heater controller, plain: the input of kivinst
 * (translation unit 16). */
#include "Wrapper_seat_heating_control.h"

#include "seat_heating_control.h"

WrapperSeatHeatingControlState w_Wrapper_seat_heating_control_DW;
WrapperSeatHeatingControlInputs w_Wrapper_seat_heating_control_U;
WrapperSeatHeatingControlOutputs w_Wrapper_seat_heating_control_Y;
static WrapperSeatHeatingControlModel w_Wrapper_seat_heating_control_M_;
WrapperSeatHeatingControlModel* w_Wrapper_seat_heating_control_M = &w_Wrapper_seat_heating_control_M_;

void dummy_caller_rte_funcs(void)
{
}

/* The counter goes 0 -> 1 at the top and back to 0 at the bottom of every
 * step, so each runnable test below holds; the first step instead takes the
 * activation branch, which clears the counter before its own three calls. */
void Wrapper_seat_heating_control_step(void)
{
    if (w_Wrapper_seat_heating_control_DW.tick_counter < 1u) {
        w_Wrapper_seat_heating_control_DW.tick_counter++;
    }
    if (w_Wrapper_seat_heating_control_DW.is_active == 0u) {
        w_Wrapper_seat_heating_control_DW.is_active = 1u;
        w_Wrapper_seat_heating_control_DW.tick_counter = 0u;
        runa2();
        runa1();
        runa3();
    } else {
        if (w_Wrapper_seat_heating_control_DW.tick_counter == 1) {
            runa2();
        }
        if (w_Wrapper_seat_heating_control_DW.tick_counter == 1) {
            runa1();
        }
        if (w_Wrapper_seat_heating_control_DW.tick_counter == 1) {
            runa3();
        }
    }
    if (w_Wrapper_seat_heating_control_DW.tick_counter == 1u) {
        w_Wrapper_seat_heating_control_DW.tick_counter = 0u;
    }
}

/* Does not touch the wrapper state: a second initialisation keeps the schedule. */
void Wrapper_seat_heating_control_initialize(void)
{
    SeatHeatControl_Init();
}

void Wrapper_seat_heating_control_terminate(void)
{
}
