// runa1_533_step_pre_step_hook: runs before each step of scope 987; nothing to do.
#include "frame/scope_frames.h"

void runa1_533_step_pre_step_hook() {}
