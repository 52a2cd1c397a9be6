// runa2_519_step_pre_step_hook: runs before each step of scope 981; nothing to do.
#include "frame/scope_frames.h"

void runa2_519_step_pre_step_hook() {}
