// harness_1: the unit's variable IDs (harness_ids.def) as constant data and
// their registration; counted here so that the runtime can check the tables
// agree.
#pragma once

#include "harness/harness_all.h"
#include "harness/harness_main.h"
#include "harness/table_count.h"

#include <cstdint>

inline constexpr int kKivIdCount = kiv_sum({0
#define KIV_INPUT_ID(id, n, setter) , 1
#define KIV_GOAL_ID(id, n) , 1
#include "unit/harness_ids.def"
});
inline constexpr int kKivWritableIdCount = kiv_sum({0
#define KIV_INPUT_ID(id, n, setter) , 1
#include "unit/harness_ids.def"
});
