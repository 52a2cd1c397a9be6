// harness_1: every variable ID of the unit's harness_ids.def as a row of
// constant data (its variable, the variable's type, its setter rule), and
// their registration; harness/harness_main.cpp converts on access.
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

#define KIV_TYPE_OF(n) std::remove_cv_t<decltype(kiv_haux##n)>

// One row per ID, after one empty row so that an empty table is still an
// array: constant data, which the compiler takes a row at a time however
// many thousand IDs a unit has.
const kiv_id_entry kKivIds[] = {
    {nullptr, nullptr, kiv_type::U8, kiv_setter_rule::NONE},
#define KIV_INPUT_ID(id, n, setter) {#id, &kiv_haux##n, kiv_type_code<KIV_TYPE_OF(n)>(), kiv_setter_rule::setter},
#define KIV_GOAL_ID(id, n) {#id, &KIV_G##n, kiv_type_code<uint32_t>(), kiv_setter_rule::NONE},
#include "unit/harness_ids.def"
};

}  // namespace

void kiv_register_functions_1() {
    for (const kiv_id_entry& entry : kKivIds) kiv_register_single_id(&entry);
}
