// harness_main: the registry from variable IDs to accessor functions, and the
// per-kind index tables through which the host reaches the accessors.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Every ID has accessors of the integer kind; those of a floating variable
// also have accessors of the floating kind.
using kiv_getter = int64_t (*)();
using kiv_setter = void (*)(int64_t value);
using kiv_float_getter = double (*)();
using kiv_float_setter = void (*)(double value);

struct fct_float_pair {
    kiv_float_getter get;
    kiv_float_setter set;
};

// An index table entry: both null for an ID that is not registered, a null
// setter for a read-only ID. The floating pair is null unless the ID's
// variable is floating; the _float access functions then use it, so a double
// reaches such a variable unchanged rather than through a 64-bit integer.
struct fct_pair {
    kiv_getter get_fct;
    kiv_setter set_fct;
    fct_float_pair float_fct;
};

// Truncates toward zero; NaN gives 0 and values beyond the 64-bit range
// saturate, where a plain conversion would be undefined.
inline int64_t kiv_double_to_int64(double value) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (std::isnan(value)) return 0;
    if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
    if (value < -kTwoTo63) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

// The floating-kind accessors of the ID whose integer getter is `getter`;
// both null when its variable is not floating (or the getter is unknown).
// Expanded from the unit's tables in harness/harness_1.cpp.
fct_float_pair kiv_floating_accessors(kiv_getter getter);

// Opens the registry (both hash tables, every ID entered) unless it is open.
void kiv_init_harness();
// Enters one ID; the ID text is copied. Entering an ID again adds a second
// pair that lookups never reach. A null ID is ignored.
void kiv_register_single_function(const char* id, kiv_getter getter, kiv_setter setter);
