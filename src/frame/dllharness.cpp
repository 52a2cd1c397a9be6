// dllharness: the exception entry and the scope selector the host writes
// before each step; the step entry, which dispatches on it, is expanded from
// the unit's scopes with the frames (frame/frames.cpp).
#include "dllharness.h"

#include "frame/kivexception.h"

int32_t KIV_SCOPE_UID = 0;

void kiv_dll_exception(void) {
    kiv_exception();
}
