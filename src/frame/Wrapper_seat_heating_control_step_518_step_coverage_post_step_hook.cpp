// Wrapper_seat_heating_control_step_518_step_coverage_post_step_hook: makes the goal flags current after each
// step of scope 955.
#include "frame/scope_frames.h"
#include "instrumentation/goal_harness.h"

void Wrapper_seat_heating_control_step_518_step_coverage_post_step_hook() {
    kiv_goals_evaluate();
}
