// frames: the step entry, the step frame of every scope of the unit's
// scopes.def, its normal step and its three hooks, and the harness variables
// they copy, all expanded from the unit's tables. Every scope runs the same
// sequence; only the tables say which variables it copies and which unit
// function it calls.
#include "dllharness.h"
#include "frame/scope_frames.h"
#include "instrumentation/goal_harness.h"

#define KIV_HAUX(n, scope, direction, type, unit_variable, name) type kiv_haux##n;
#include "unit/harness_variables.def"

#define KIV_SCOPE(uid, name, step, unit, init)                                     \
    void step##_pre_step_hook() {                                                  \
        KIV_UNIT_PRE_STEP();                                                       \
    }                                                                              \
    void step##_norm() {                                                           \
        static bool isInitialized;                                                 \
        kiv_normal_step<uid, init, unit>(isInitialized);                           \
    }                                                                              \
    void step##_coverage_post_step_hook() {                                        \
        kiv_goals_evaluate();                                                      \
    }                                                                              \
    void step##_observer_post_step_hook() {}                                       \
    void step() {                                                                  \
        step##_pre_step_hook();                                                    \
        step##_norm();                                                             \
        step##_coverage_post_step_hook();                                          \
        step##_observer_post_step_hook();                                          \
    }
#include "unit/scopes.def"

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
