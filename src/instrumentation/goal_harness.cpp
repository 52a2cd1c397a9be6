// goal_harness: the unit's goal flags and their evaluation from its probe
// records, both expanded from the unit's goals.def and records.def.
#include "instrumentation/goal_harness.h"

#include "instrumentation/CodeAnnotation.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

// The records live in the instrumented units; the evaluation only reads them.
// Declared hidden so that each is addressed directly, not through the GOT.
#define IXA_RECORD(kind, record, function, text) \
    extern IXA_##kind##_RECORD record __attribute__((visibility("hidden")));
#include "unit/records.def"

#define KIV_GOAL(n, record, field, rule) uint32_t KIV_G##n;
#include "unit/goals.def"

// Flag goals rise to 1 once their field is set; statement goals follow the
// hit count once it is non-zero. Neither ever falls back, so the fold is
// idempotent and may run any number of times. This runs after every step, so
// both rules are branch-free: a record flag only ever holds 0 or 1 (probes
// store nothing but 1 into it), which makes OR-ing it in the same as raising
// the goal when the flag is set.
#define KIV_FOLD_FLAG(goal, field) goal |= field;
#define KIV_FOLD_COUNT(goal, field) goal = field != 0 ? field : goal;

// Each goal's fold is numbered by its row in goals.def (__COUNTER__ counts
// the rows), so that the evaluation is cut into functions of at most kChunk
// folds: one function of every fold would cost the optimiser time that grows
// faster than the goals (minutes for ten thousand). A unit of up to kChunk
// goals gets one function, as before.
namespace {

constexpr int kFoldBase = __COUNTER__;
template <int Row>
void kiv_fold();
#define KIV_GOAL(n, record, field, rule)                          \
    template <>                                                   \
    inline void kiv_fold<__COUNTER__ - kFoldBase - 1>() {         \
        KIV_FOLD_##rule(KIV_G##n, record.field)                   \
    }
#include "unit/goals.def"

constexpr int kChunk = 512;

// Braced lists rather than fold expressions: they run in order too, and clang
// caps a fold's nesting at 256 operands.
template <int First, std::size_t... Row>
void kiv_fold_chunk(std::index_sequence<Row...>) {
    [[maybe_unused]] const int in_order[] = {0, (kiv_fold<First + static_cast<int>(Row)>(), 0)...};
}

template <std::size_t... Chunk>
void kiv_fold_all(std::index_sequence<Chunk...>) {
    [[maybe_unused]] const int in_order[] = {
        0, (kiv_fold_chunk<static_cast<int>(Chunk) * kChunk>(
                std::make_index_sequence<std::min<std::size_t>(kChunk, kKivGoalCount - Chunk * kChunk)>{}),
            0)...};
}

// A unit of more goals than kCompiledFoldLimit folds from rows of constant
// data instead, one loop over them: a few instructions more a goal than the
// folds compiled above, and a row of work for the compiler rather than a
// function (tens of seconds of optimising for a unit of 25,000 goals).
#ifndef KIV_COMPILED_FOLD_LIMIT
#define KIV_COMPILED_FOLD_LIMIT 4096
#endif
constexpr int kCompiledFoldLimit = KIV_COMPILED_FOLD_LIMIT;

struct kiv_fold_row {
    uint32_t* goal;
    const void* field;  // a flag (uint8_t), or a hit count (uint32_t) where counts is set
    bool counts;
};
#define KIV_FOLD_COUNTS_FLAG false
#define KIV_FOLD_COUNTS_COUNT true
[[maybe_unused]] const kiv_fold_row kFoldRows[] = {
    {nullptr, nullptr, false},  // so that an empty table is still an array
#define KIV_GOAL(n, record, field, rule) {&KIV_G##n, &record.field, KIV_FOLD_COUNTS_##rule},
#include "unit/goals.def"
};

[[maybe_unused]] void kiv_fold_rows() {
    for (std::size_t i = 1; i < sizeof kFoldRows / sizeof kFoldRows[0]; ++i) {
        const kiv_fold_row& row = kFoldRows[i];
        if (row.counts) {
            const uint32_t hits = *static_cast<const uint32_t*>(row.field);
            if (hits != 0) *row.goal = hits;
        } else {
            *row.goal |= *static_cast<const uint8_t*>(row.field);
        }
    }
}

// A template, so that only the fold chosen is instantiated.
template <bool Compiled = (kKivGoalCount <= kCompiledFoldLimit)>
void kiv_evaluate() {
    if constexpr (Compiled)
        kiv_fold_all(std::make_index_sequence<(kKivGoalCount + kChunk - 1) / kChunk>{});
    else
        kiv_fold_rows();
}

}  // namespace

void kiv_goals_evaluate() {
    kiv_evaluate();
}
