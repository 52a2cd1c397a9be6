// runa1_533_step_observer_post_step_hook: runs after each step of scope 987, once
// the goals are current; nothing to observe here.
#include "frame/scope_frames.h"

void runa1_533_step_observer_post_step_hook() {}
