// harness_1: the generated accessors of every variable ID and their
// registration. Getters zero-extend; setters write one harness variable.
#include "harness/harness_1.h"

#include "frame/harness_variables.h"
#include "harness/harness_main.h"
#include "instrumentation/goal_harness.h"

#include <cstdint>

// The two setter rules of harness_ids.def: the low byte, or 1 for any non-zero.
#define KIV_STORE_PLAIN(value) static_cast<uint8_t>(value)
#define KIV_STORE_BOOL(value) static_cast<uint8_t>((value) != 0)

#define KIV_INPUT_ID(id, n, setter)              \
    int64_t kiv_dll_get_##id##_int() {           \
        return kiv_haux##n;                      \
    }                                            \
    void kiv_dll_set_##id##_int(int64_t value) { \
        kiv_haux##n = KIV_STORE_##setter(value); \
    }
#define KIV_GOAL_ID(id, n)             \
    int64_t kiv_dll_get_##id##_int() { \
        return KIV_G##n;               \
    }
#include "harness/harness_ids.def"

void kiv_register_functions_1() {
#define KIV_INPUT_ID(id, n, setter) kiv_register_single_function(#id, kiv_dll_get_##id##_int, kiv_dll_set_##id##_int);
#define KIV_GOAL_ID(id, n) kiv_register_single_function(#id, kiv_dll_get_##id##_int, nullptr);
#include "harness/harness_ids.def"
}
