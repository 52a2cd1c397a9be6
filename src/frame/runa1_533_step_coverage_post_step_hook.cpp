// runa1_533_step_coverage_post_step_hook: makes the goal flags current after each
// step of scope 987.
#include "frame/scope_frames.h"
#include "instrumentation/goal_harness.h"

void runa1_533_step_coverage_post_step_hook() {
    kiv_goals_evaluate();
}
