// goal_harness: the goal flags KIV_G1..KIV_G176 and the evaluation that raises
// them from the probe records after every step.
#pragma once

#include <cstdint>

// Flag goals hold 0 or 1; statement goals the last non-zero hitCount of their
// record. Only kiv_goals_evaluate writes them, and nothing clears them.
#define KIV_GOAL(n, record, field, rule) extern uint32_t KIV_G##n;
#include "instrumentation/goals.def"

inline constexpr int kKivGoalCount = 176;

// Folds every probe record into its goal flags; idempotent between probe hits.
void kiv_goals_evaluate();
