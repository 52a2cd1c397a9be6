// harness_main: the registry from variable IDs to the variables they reach,
// and the per-kind index tables through which the host reaches them.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

// An ID is a row of constant data: the variable it reaches, that variable's
// type and how a write converts into it. Access goes through one switch on
// the type, so a unit of many thousand IDs costs the compiler a row each
// rather than a function each.
enum class kiv_type : uint8_t { I8, U8, I16, U16, I32, U32, I64, U64, BOOL, F32, F64 };
// PLAIN: C's conversion to the type (an 8-bit variable keeps the low byte);
// BOOL: 1 for any non-zero value; NONE: the ID is read-only (a goal flag).
enum class kiv_setter_rule : uint8_t { NONE, PLAIN, BOOL };

struct kiv_id_entry {
    const char* id;  // the ID's text, "959"
    void* variable;  // kiv_haux<n> or KIV_G<n>, of the type below
    kiv_type type;
    kiv_setter_rule setter;
};

// The code of a variable type of the tables; any other type does not compile.
template <class T>
constexpr kiv_type kiv_type_code() {
    if constexpr (std::is_same_v<T, bool>) return kiv_type::BOOL;
    else if constexpr (std::is_same_v<T, float>) return kiv_type::F32;
    else if constexpr (std::is_same_v<T, double>) return kiv_type::F64;
    else {
        static_assert(std::is_integral_v<T> && sizeof(T) <= 8, "a harness variable is a fixed-width integer, bool, float or double");
        constexpr bool s = std::is_signed_v<T>;
        if constexpr (sizeof(T) == 1) return s ? kiv_type::I8 : kiv_type::U8;
        else if constexpr (sizeof(T) == 2) return s ? kiv_type::I16 : kiv_type::U16;
        else if constexpr (sizeof(T) == 4) return s ? kiv_type::I32 : kiv_type::U32;
        else return s ? kiv_type::I64 : kiv_type::U64;
    }
}

// Truncates toward zero; NaN gives 0 and values beyond the 64-bit range
// saturate, where a plain conversion would be undefined.
inline int64_t kiv_double_to_int64(double value) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (std::isnan(value)) return 0;
    if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
    if (value < -kTwoTo63) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

// Opens the registry (its hash table, every ID entered) unless it is open.
void kiv_init_harness();
// Enters one ID; the ID text is copied, the entry is not (it stays the
// caller's). Entering an ID again adds a second pair that lookups never
// reach. A null entry or ID is ignored.
void kiv_register_single_id(const kiv_id_entry* entry);
