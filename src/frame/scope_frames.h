// The per-scope step frames of the unit's scopes.def: for each scope the frame
// <step>, its normal step and its three hooks (defined in frame/frames.cpp),
// and the normal step they share, expanded from the unit's tables.
#pragma once

#include "frame/harness_variables.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

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

// Each row of harness_variables.def copies its variable in or out; rows are
// numbered by their place in the table (__COUNTER__ counts them). A scope
// copies the rows of its run of the table, which every table keeps together,
// in table order: inputs into the unit variables they feed, converted by C's
// rules to the unit variable's type (no range check), then outputs back.
// The run is found once per scope in a sorted list, so the compiler's work
// grows with the rows, not with rows times scopes.
namespace {

constexpr int kKivRowBase = __COUNTER__;
template <int Row>
struct kiv_row;
#define KIV_HAUX(n, scope_, direction, type, unit_variable, name)    \
    template <>                                                     \
    struct kiv_row<__COUNTER__ - kKivRowBase - 1> {                 \
        static void in() {                                          \
            if constexpr (KIV_##direction.in) unit_variable = kiv_haux##n; \
        }                                                           \
        static void out() {                                         \
            if constexpr (!KIV_##direction.in) kiv_haux##n = unit_variable; \
        }                                                           \
    };
#include "unit/harness_variables.def"

struct KivRun {
    int scope, first, last;  // rows [first, last)
};

constexpr int kKivRowScopes[] = {0
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) , scope
#include "unit/harness_variables.def"
};

constexpr int kKivRunCount = [] {
    int runs = 0;
    for (int r = 0; r < kKivHarnessVariableCount; ++r) runs += r == 0 || kKivRowScopes[r + 1] != kKivRowScopes[r];
    return runs;
}();

constexpr std::array<KivRun, kKivRunCount> kKivRuns = [] {
    std::array<KivRun, kKivRunCount> runs{};
    int k = -1;
    for (int r = 0; r < kKivHarnessVariableCount; ++r) {
        if (r == 0 || kKivRowScopes[r + 1] != kKivRowScopes[r]) runs[static_cast<std::size_t>(++k)] = {kKivRowScopes[r + 1], r, r};
        ++runs[static_cast<std::size_t>(k)].last;
    }
    std::sort(runs.begin(), runs.end(), [](const KivRun& a, const KivRun& b) { return a.scope < b.scope; });
    return runs;
}();

static_assert([] {
    for (std::size_t i = 1; i < kKivRuns.size(); ++i)
        if (kKivRuns[i].scope == kKivRuns[i - 1].scope) return false;
    return true;
}(), "the rows of a scope in harness_variables.def must stand together");

template <int Scope>
constexpr KivRun kiv_run_of() {
    const auto at = std::lower_bound(kKivRuns.begin(), kKivRuns.end(), Scope,
                                     [](const KivRun& run, int scope) { return run.scope < scope; });
    return at != kKivRuns.end() && at->scope == Scope ? *at : KivRun{Scope, 0, 0};
}

// Braced lists rather than fold expressions: they run in order too, and clang
// caps a fold's nesting at 256 operands (a scope may copy more rows).
template <int First, std::size_t... Row>
inline void kiv_copy_rows_in(std::index_sequence<Row...>) {
    [[maybe_unused]] const int in_order[] = {0, (kiv_row<First + static_cast<int>(Row)>::in(), 0)...};
}

template <int First, std::size_t... Row>
inline void kiv_copy_rows_out(std::index_sequence<Row...>) {
    [[maybe_unused]] const int in_order[] = {0, (kiv_row<First + static_cast<int>(Row)>::out(), 0)...};
}

}  // namespace

template <int Scope>
inline void kiv_copy_in() {
    constexpr KivRun run = kiv_run_of<Scope>();
    kiv_copy_rows_in<run.first>(std::make_index_sequence<static_cast<std::size_t>(run.last - run.first)>{});
}

template <int Scope>
inline void kiv_copy_out() {
    constexpr KivRun run = kiv_run_of<Scope>();
    kiv_copy_rows_out<run.first>(std::make_index_sequence<static_cast<std::size_t>(run.last - run.first)>{});
}

// Every scope's INOUT inputs, after a step of any scope: two scopes may feed
// one unit variable, and each must start from what the other left in it.
template <int = 0>
inline void kiv_follow_unit() {
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) \
    if constexpr (KIV_##direction.follows) kiv_haux##n = unit_variable;
#include "unit/harness_variables.def"
}

// Which inits run when is the unit's choice, made in its unit.h. With
// KIV_UNIT_INIT_ONCE_PER_CASE the first step of any scope after the library's
// state was loaded runs every scope's init (each function once, in table
// order) and then the environment's, so entries share state as they do in the
// product. Without it a scope's first step runs that scope's init and the
// environment's: a further scope's first step initialises again over what the
// others left.
#ifdef KIV_UNIT_INIT_ONCE_PER_CASE
namespace {

using KivInit = void (*)();
inline constexpr KivInit kKivInits[] = {nullptr
#define KIV_SCOPE(uid, name, step, unit, init) , init
#include "unit/scopes.def"
};
// Whether an init is the first row naming its function; counted at compile
// time, so a unit of many scopes pays nothing for the duplicates at run time.
inline constexpr auto kKivInitFirst = [] {
    std::array<bool, std::size(kKivInits)> first{};
    for (std::size_t i = 1; i < first.size(); ++i) {
        first[i] = true;
        for (std::size_t j = 1; j < i; ++j) first[i] = first[i] && kKivInits[j] != kKivInits[i];
    }
    return first;
}();

}  // namespace

inline bool kiv_case_initialized;  // one flag for every scope

inline void kiv_init_every_scope() {
    for (std::size_t i = 1; i < std::size(kKivInits); ++i)
        if (kKivInitFirst[i]) kKivInits[i]();
}
#endif

// A scope's normal step. Initialisation comes before the copy-in, so the
// copy-in overwrites what it left in the variables the scope feeds (an
// environment's defaults included). `initialized` is the scope's own flag;
// once per case, one flag serves every scope. Either lives in the library's
// data, which the host puts back before each case.
template <int Scope, void (*UnitInit)(), void (*Unit)()>
inline void kiv_normal_step(bool& initialized) {
#ifdef KIV_UNIT_INIT_ONCE_PER_CASE
    if (!kiv_case_initialized) {
        kiv_user_defined_init_function();
        kiv_init_every_scope();
        KIV_UNIT_ENVIRONMENT_INIT();
        kiv_case_initialized = true;
    }
    (void)initialized;
#else
    if (!initialized) {
        kiv_user_defined_init_function();
        UnitInit();
        KIV_UNIT_ENVIRONMENT_INIT();
        initialized = true;
    }
#endif
    kiv_copy_in<Scope>();
    Unit();
    kiv_copy_out<Scope>();
    kiv_follow_unit();
}
