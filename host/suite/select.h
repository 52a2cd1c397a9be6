// Choosing what a run runs: cases by name, a CI runner's share of them, and
// their order and number of rounds. Works on a compiled Plan, sharing its
// steps: only the list of cases changes.
#pragma once

#include "suite/plan.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kiv {

// The most shards a run is split into: more than any CI matrix runs, few
// enough that a merge can list the missing ones.
inline constexpr int kMaxShards = 10000;

struct Shard {
    int index = 0, count = 1;  // runner index (from 0) of count runners
};

struct Selection {
    // Globs (* and ?) on the case ID "suite:case" or on the bare case name; a
    // leading '-' excludes. A case runs when it matches some including glob
    // (or there is none) and no excluding one.
    std::vector<std::string> filters;
    std::optional<Shard> shard;
    int repeat = 1;  // rounds; cases of round k > 1 are named "<case>#<k>"
    bool shuffle = false;
    uint64_t seed = 0;
};

// "K/N" with 0 <= K < N. Throws Error with what was expected.
Shard parse_shard(const std::string& text);

// GTEST_SHARD_INDEX and GTEST_TOTAL_SHARDS, which CI set-ups export for
// GoogleTest; none when neither is set. Throws Error when they are bad or
// only one is set.
std::optional<Shard> shard_from_environment();

// Which of `count` shards runs a case: a stable hash of its ID, so the same
// case lands in the same shard on every machine, and adding a case moves no
// other. The hash: 64-bit FNV-1a of "suite:case", mixed by splitmix64's
// finaliser, modulo count.
int shard_of(const Plan& plan, const PlanCase& c, int count);

bool glob_match(std::string_view pattern, std::string_view text);

// The plan with only the selected cases, in selection order. Throws Error
// when a filter matches no case at all (a typo would otherwise run nothing
// and pass); an empty shard is not an error.
Plan select_cases(Plan plan, const Selection& selection);

// One line per case: ID, file:line, steps and checks.
void list_cases(const Plan& plan, std::ostream& out);

}  // namespace kiv
