// harness_1: one getter per variable ID, one setter per writable ID, and their
// registration, all generated from the unit's harness_ids.def. A floating
// harness variable also gets accessors of the floating kind.
#pragma once

#include "harness/harness_all.h"
#include "harness/harness_main.h"
#include "harness/table_count.h"

#include <cstdint>

#define KIV_INPUT_ID(id, n, setter)   \
    int64_t kiv_dll_get_##id##_int(); \
    void kiv_dll_set_##id##_int(int64_t value);
#define KIV_GOAL_ID(id, n) int64_t kiv_dll_get_##id##_int();
#include "unit/harness_ids.def"

inline constexpr int kKivIdCount = kiv_sum({0
#define KIV_INPUT_ID(id, n, setter) , 1
#define KIV_GOAL_ID(id, n) , 1
#include "unit/harness_ids.def"
});
inline constexpr int kKivWritableIdCount = kiv_sum({0
#define KIV_INPUT_ID(id, n, setter) , 1
#include "unit/harness_ids.def"
});
