// dllharness: the step and exception entries, and the scope selector the host
// writes before each step.
#include "dllharness.h"

#include "frame/kivexception.h"
#include "frame/scope_frames.h"

int32_t KIV_SCOPE_UID = 0;

// Any value outside the scope table makes the step a no-operation: no frame,
// no goal evaluation.
void kiv_dll_step(void) {
    switch (KIV_SCOPE_UID) {
#define KIV_SCOPE(uid, name, step, unit, init) \
    case uid:                            \
        step();                          \
        break;
#include "unit/scopes.def"
        default:
            break;
    }
}

void kiv_dll_exception(void) {
    kiv_exception();
}
