// The step entry of the benchmark's uninstrumented build: the library's own
// dispatch and normal step (first-call initialisation, copy-in, unit call,
// copy-out), without the hooks and so without the goal evaluation.
#include "dllharness.h"

#include "frame/scope_frames.h"

#define KIV_HAUX(n, scope, direction, type, unit_variable, name) type kiv_haux##n;
#include "unit/harness_variables.def"

int32_t KIV_SCOPE_UID = 0;

namespace {

template <int Scope, void (*UnitInit)(), void (*Unit)()>
void normal_step() {
    static bool isInitialized;
    kiv_normal_step<Scope, UnitInit, Unit>(isInitialized);
}

}  // namespace

void kiv_dll_step(void) {
    switch (KIV_SCOPE_UID) {
#define KIV_SCOPE(uid, name, step, unit, init) \
    case uid:                            \
        normal_step<uid, init, unit>();  \
        break;
#include "unit/scopes.def"
        default:
            break;
    }
}
