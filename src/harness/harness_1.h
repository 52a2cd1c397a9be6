// harness_1: one getter per variable ID, one setter per writable ID, and their
// registration, all generated from harness/harness_ids.def.
#pragma once

#include <cstdint>

#define KIV_INPUT_ID(id, n, setter)   \
    int64_t kiv_dll_get_##id##_int(); \
    void kiv_dll_set_##id##_int(int64_t value);
#define KIV_GOAL_ID(id, n) int64_t kiv_dll_get_##id##_int();
#include "harness/harness_ids.def"

// Enters all IDs, each with its getter and its setter or null.
void kiv_register_functions_1();

inline constexpr int kKivIdCount = 0
#define KIV_INPUT_ID(id, n, setter) +1
#define KIV_GOAL_ID(id, n) +1
#include "harness/harness_ids.def"
    ;
inline constexpr int kKivWritableIdCount = 0
#define KIV_INPUT_ID(id, n, setter) +1
#include "harness/harness_ids.def"
    ;

static_assert(kKivIdCount == 192, "the library has 192 variable IDs");
static_assert(kKivWritableIdCount == 16, "16 of them are writable harness inputs");
