// runa3_549_step_pre_step_hook: runs before each step of scope 997; nothing to do.
#include "frame/scope_frames.h"

void runa3_549_step_pre_step_hook() {}
