// goal_harness: the goal flags KIV_G<n> of the unit's goals.def and the
// evaluation that raises them from the probe records after every step.
#pragma once

#include <cstdint>

#include "harness/table_count.h"

// Flag goals hold 0 or 1; statement goals the last non-zero hitCount of their
// record. Only kiv_goals_evaluate writes them, and nothing clears them.
#define KIV_GOAL(n, record, field, rule) extern uint32_t KIV_G##n;
#include "unit/goals.def"

inline constexpr int kKivGoalCount = kiv_sum({0
#define KIV_GOAL(n, record, field, rule) , 1
#include "unit/goals.def"
});

// Folds every probe record into its goal flags; idempotent between probe hits.
void kiv_goals_evaluate();
