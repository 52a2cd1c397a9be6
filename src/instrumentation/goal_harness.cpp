// goal_harness: the unit's goal flags and their evaluation from its probe
// records, both expanded from the unit's goals.def and records.def.
#include "instrumentation/goal_harness.h"

#include "instrumentation/CodeAnnotation.h"

// The records live in the instrumented units; the evaluation only reads them.
// Declared hidden so that each is addressed directly, not through the GOT.
#define IXA_RECORD(kind, record, function, text) \
    extern IXA_##kind##_RECORD record __attribute__((visibility("hidden")));
#include "unit/records.def"

#define KIV_GOAL(n, record, field, rule) uint32_t KIV_G##n;
#include "unit/goals.def"

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
#include "unit/goals.def"
}
