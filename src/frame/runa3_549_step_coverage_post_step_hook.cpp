// runa3_549_step_coverage_post_step_hook: makes the goal flags current after each
// step of scope 997.
#include "frame/scope_frames.h"
#include "instrumentation/goal_harness.h"

void runa3_549_step_coverage_post_step_hook() {
    kiv_goals_evaluate();
}
