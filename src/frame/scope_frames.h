// The per-scope step frames: declarations of every frame function, and the
// normal step that all four scopes share, expanded from the scope and
// harness-variable tables.
#pragma once

#include "frame/Rte_SeatHeatControl.h"
#include "frame/harness_variables.h"
#include "frame/kiv_user_defined_init_function.h"

// For each scope: the frame <step>, its normal step and its three hooks.
#define KIV_SCOPE(uid, step, unit, init)   \
    void step();                           \
    void step##_norm();                    \
    void step##_pre_step_hook();           \
    void step##_coverage_post_step_hook(); \
    void step##_observer_post_step_hook();
#include "frame/scopes.def"

inline constexpr bool KIV_IN = true;
inline constexpr bool KIV_OUT = false;

// Harness variables of the scope into the unit variables they feed, in table
// order; one plain byte each, no conversion or range check.
template <int Scope>
inline void kiv_copy_in() {
#define KIV_HAUX(n, scope, direction, unit_variable) \
    if constexpr (scope == Scope && KIV_##direction) unit_variable = kiv_haux##n;
#include "frame/harness_variables.def"
}

template <int Scope>
inline void kiv_copy_out() {
#define KIV_HAUX(n, scope, direction, unit_variable) \
    if constexpr (scope == Scope && !KIV_##direction) kiv_haux##n = unit_variable;
#include "frame/harness_variables.def"
}

// A scope's normal step. The first step initialises the unit before the
// copy-in, so the copy-in overwrites what the initialisation left in the
// variables the scope feeds (the calibration defaults included). The flag is
// per scope while the unit's state is shared: a further scope's first step
// initialises again over it.
template <int Scope, void (*UnitInit)(), void (*Unit)()>
inline void kiv_normal_step(bool& isInitialized) {
    if (!isInitialized) {
        kiv_user_defined_init_function();
        UnitInit();
        KIV_init_RTE_params();
        isInitialized = true;
    }
    kiv_copy_in<Scope>();
    Unit();
    kiv_copy_out<Scope>();
}
