// The per-scope step frames of the unit's scopes.def: for each scope the frame
// <step>, its normal step and its three hooks (defined in frame/frames.cpp),
// and the normal step they share, expanded from the unit's tables.
#pragma once

#include "frame/harness_variables.h"
#include "frame/kiv_user_defined_init_function.h"
#include "harness/table_count.h"
#include "unit/unit.h"

// A unit without an environment to set up, or without per-step work before
// the frame (stub call counts to reset), leaves these out of its unit.h.
#ifndef KIV_UNIT_ENVIRONMENT_INIT
#define KIV_UNIT_ENVIRONMENT_INIT()
#endif
#ifndef KIV_UNIT_PRE_STEP
#define KIV_UNIT_PRE_STEP()
#endif

#define KIV_SCOPE(uid, name, step, unit, init) \
    void step();                               \
    void step##_norm();                        \
    void step##_pre_step_hook();               \
    void step##_coverage_post_step_hook();     \
    void step##_observer_post_step_hook();
#include "unit/scopes.def"

inline constexpr int kKivScopeCount = kiv_sum({0
#define KIV_SCOPE(uid, name, step, unit, init) , 1
#include "unit/scopes.def"
});

// The directions of harness_variables.def. An INOUT input is fed like an IN
// one and then follows its unit variable, so state the unit keeps there
// carries into the next step unless the host sets the input again.
struct KivDirection {
    bool in, follows;
};
inline constexpr KivDirection KIV_IN{true, false};
inline constexpr KivDirection KIV_INOUT{true, true};
inline constexpr KivDirection KIV_OUT{false, false};

// Harness variables of the scope into the unit variables they feed, in table
// order, converted by C's rules to the unit variable's type; no range check.
template <int Scope>
inline void kiv_copy_in() {
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) \
    if constexpr (scope == Scope && KIV_##direction.in) unit_variable = kiv_haux##n;
#include "unit/harness_variables.def"
}

template <int Scope>
inline void kiv_copy_out() {
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) \
    if constexpr (scope == Scope && !KIV_##direction.in) kiv_haux##n = unit_variable;
#include "unit/harness_variables.def"
}

// Every scope's INOUT inputs, after a step of any scope: two scopes may feed
// one unit variable, and each must start from what the other left in it.
template <int = 0>
inline void kiv_follow_unit() {
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) \
    if constexpr (KIV_##direction.follows) kiv_haux##n = unit_variable;
#include "unit/harness_variables.def"
}

// A scope's normal step. The first step initialises the unit before the
// copy-in, so the copy-in overwrites what the initialisation left in the
// variables the scope feeds (an environment's defaults included). The flag
// is per scope while the unit's state is shared: a further scope's first step
// initialises again over it.
template <int Scope, void (*UnitInit)(), void (*Unit)()>
inline void kiv_normal_step(bool& isInitialized) {
    if (!isInitialized) {
        kiv_user_defined_init_function();
        UnitInit();
        KIV_UNIT_ENVIRONMENT_INIT();
        isInitialized = true;
    }
    kiv_copy_in<Scope>();
    Unit();
    kiv_copy_out<Scope>();
    kiv_follow_unit();
}

