// goal_harness: the 176 goal flags and their evaluation from the probe records.
#include "instrumentation/goal_harness.h"

#include "instrumentation/CodeAnnotation.h"

// The records live in the instrumented units; the evaluation only reads them.
// Declared hidden so that each is addressed directly, not through the GOT.
#define IXA_RECORD(kind, record, function, text) \
    extern IXA_##kind##_RECORD record __attribute__((visibility("hidden")));
#include "unit/Wrapper_seat_heating_control_records.def"
#define IXA_RECORD(kind, record, function, text) \
    extern IXA_##kind##_RECORD record __attribute__((visibility("hidden")));
#include "unit/seat_heating_control_records.def"

#define KIV_GOAL(n, record, field, rule) uint32_t KIV_G##n;
#include "instrumentation/goals.def"

namespace {
constexpr int kGoalRows = 0
#define KIV_GOAL(n, record, field, rule) +1
#include "instrumentation/goals.def"
    ;
static_assert(kGoalRows == kKivGoalCount, "the goal table must list 176 goals");
}  // namespace

// Flag goals rise to 1 once their field is set; statement goals follow the
// hit count once it is non-zero. Neither ever falls back, so the fold is
// idempotent and may run any number of times. This runs after every step, so
// both rules are branch-free: a record flag only ever holds 0 or 1 (probes
// store nothing but 1 into it), which makes OR-ing it in the same as raising
// the goal when the flag is set.
#define KIV_FOLD_FLAG(goal, field) goal |= field;
#define KIV_FOLD_COUNT(goal, field) goal = field != 0 ? field : goal;

void kiv_goals_evaluate() {
#define KIV_GOAL(n, record, field, rule) KIV_FOLD_##rule(KIV_G##n, record.field)
#include "instrumentation/goals.def"
}
