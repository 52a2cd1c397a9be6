// Wrapper_seat_heating_control_step_518_step_pre_step_hook: runs before each step of scope 955; nothing to do.
#include "frame/scope_frames.h"

void Wrapper_seat_heating_control_step_518_step_pre_step_hook() {}
