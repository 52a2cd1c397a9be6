// Wrapper_seat_heating_control_step_518_step_observer_post_step_hook: runs after each step of scope 955, once
// the goals are current; nothing to observe here.
#include "frame/scope_frames.h"

void Wrapper_seat_heating_control_step_518_step_observer_post_step_hook() {}
