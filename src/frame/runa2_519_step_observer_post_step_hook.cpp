// runa2_519_step_observer_post_step_hook: runs after each step of scope 981, once
// the goals are current; nothing to observe here.
#include "frame/scope_frames.h"

void runa2_519_step_observer_post_step_hook() {}
