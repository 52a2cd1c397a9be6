// harness_1: the generated accessors of every variable ID and their
// registration. Integer getters and setters convert by C's rules between the
// 64-bit value and the variable's type; floating variables add accessors of
// the floating kind that pass a double through the same conversion.
#include "harness/harness_1.h"

#include "frame/harness_variables.h"
#include "instrumentation/goal_harness.h"

#include <array>
#include <cstdint>
#include <type_traits>

// Every writable ID feeds one input harness variable, every goal ID one goal.
static_assert(kKivWritableIdCount == kKivHarnessInputCount, "each input harness variable needs exactly one ID");
static_assert(kKivIdCount - kKivWritableIdCount == kKivGoalCount, "each goal needs exactly one ID");

namespace {

// Whether kiv_haux<n> is an input; an output has no ID and nothing to set.
// One table for every check, built once: a search per check would cost the
// compiler the product of inputs and variables.
constexpr int kMaxHaux = [] {
    int most = 0;
#define KIV_HAUX(n_, scope, direction, type, unit_variable, name) most = n_ > most ? n_ : most;
#include "unit/harness_variables.def"
    return most;
}();
constexpr std::array<bool, kMaxHaux + 1> kIsInput = [] {
    std::array<bool, kMaxHaux + 1> in{};
#define KIV_HAUX(n_, scope, direction, type, unit_variable, name) in[n_] = #direction[0] == 'I';
#include "unit/harness_variables.def"
    return in;
}();

constexpr bool kiv_is_input(int n) {
    return n >= 0 && n <= kMaxHaux && kIsInput[static_cast<std::size_t>(n)];
}

}  // namespace

#define KIV_INPUT_ID(id, n, setter) \
    static_assert(kiv_is_input(n), "variable ID " #id " names kiv_haux" #n ", which is no input harness variable");
#include "unit/harness_ids.def"

namespace {

// The two setter rules of harness_ids.def: C's conversion to the variable's
// type (an 8-bit variable keeps the low byte), or 1 for any non-zero value.
template <class T, class V>
T kiv_store_PLAIN(V value) {
    if constexpr (std::is_floating_point_v<V> && !std::is_floating_point_v<T> && !std::is_same_v<T, bool>)
        return static_cast<T>(kiv_double_to_int64(value));
    else
        return static_cast<T>(value);
}

template <class T, class V>
T kiv_store_BOOL(V value) {
    return static_cast<T>(value != 0);
}

// An integer read of a floating variable truncates and saturates (NaN reads 0).
template <class T>
int64_t kiv_load_int(T value) {
    if constexpr (std::is_floating_point_v<T>)
        return kiv_double_to_int64(static_cast<double>(value));
    else
        return static_cast<int64_t>(value);
}

#define KIV_TYPE_OF(n) std::remove_cv_t<decltype(kiv_haux##n)>

#define KIV_INPUT_ID(id, n, setter)                                     \
    [[maybe_unused]] double kiv_dll_get_##id##_float() {                \
        return static_cast<double>(kiv_haux##n);                        \
    }                                                                   \
    [[maybe_unused]] void kiv_dll_set_##id##_float(double value) {      \
        kiv_haux##n = kiv_store_##setter<KIV_TYPE_OF(n)>(value);        \
    }
#include "unit/harness_ids.def"

}  // namespace

#define KIV_INPUT_ID(id, n, setter)                                     \
    int64_t kiv_dll_get_##id##_int() {                                  \
        return kiv_load_int(kiv_haux##n);                               \
    }                                                                   \
    void kiv_dll_set_##id##_int(int64_t value) {                        \
        kiv_haux##n = kiv_store_##setter<KIV_TYPE_OF(n)>(value);        \
    }
#define KIV_GOAL_ID(id, n)             \
    int64_t kiv_dll_get_##id##_int() { \
        return KIV_G##n;               \
    }
#include "unit/harness_ids.def"

void kiv_register_functions_1() {
#define KIV_INPUT_ID(id, n, setter) kiv_register_single_function(#id, kiv_dll_get_##id##_int, kiv_dll_set_##id##_int);
#define KIV_GOAL_ID(id, n) kiv_register_single_function(#id, kiv_dll_get_##id##_int, nullptr);
#include "unit/harness_ids.def"
}

namespace {

struct kiv_floating_entry {
    kiv_getter get_int;  // what the registry resolved the ID to
    fct_float_pair accessors;
};

constexpr int kFloatingIdCount = kiv_sum({0
#define KIV_INPUT_ID(id, n, setter) , (std::is_floating_point_v<KIV_TYPE_OF(n)> ? 1 : 0)
#include "unit/harness_ids.def"
});

// Only the floating IDs, so that a unit without any (the usual case) pays
// nothing at registration.
constexpr std::array<kiv_floating_entry, kFloatingIdCount> kFloatingIds = [] {
    std::array<kiv_floating_entry, kFloatingIdCount> out{};
    [[maybe_unused]] int i = 0;
#define KIV_INPUT_ID(id, n, setter)                                                             \
    if constexpr (std::is_floating_point_v<KIV_TYPE_OF(n)>)                                      \
        out[i++] = {kiv_dll_get_##id##_int, {kiv_dll_get_##id##_float, kiv_dll_set_##id##_float}};
#include "unit/harness_ids.def"
    return out;
}();

}  // namespace

fct_float_pair kiv_floating_accessors(kiv_getter getter) {
    for (const auto& entry : kFloatingIds)
        if (entry.get_int == getter) return entry.accessors;
    return {nullptr, nullptr};
}
