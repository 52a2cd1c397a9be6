// From a corpus to a small suite: a greedy set cover of the goals reached,
// then each chosen case shortened while it still reaches what it is chosen for.
#pragma once

#include "generate/mcdc_pairs.h"
#include "generate/search.h"

#include <cstddef>
#include <vector>

namespace kiv::gen {

struct Chosen {
    Case steps;
    std::vector<std::size_t> goals;  // the goals it is in the suite for, none reached by an earlier case
    Observation seen;                // of its final form: goals reached, outputs after each step
    std::vector<DecisionVector> keep;  // with MC/DC: pair vectors it is in the suite for, as goals
};

// Greedy cover: repeatedly the case that reaches most goals not yet covered,
// the shorter on a tie. Each Chosen holds the goals it newly covers; `seen`
// is left empty. With pairs, each vector of a shown pair counts as a goal
// too, so the suite shows every condition the corpus showed.
std::vector<Chosen> cover(const std::vector<Entry>& corpus, const Pairs* pairs = nullptr);

// Shortens each chosen case (steps removed, then cells removed, while every
// goal it is chosen for is still reached), covers again so a case that became
// redundant goes, and runs the result once more to record what it shows.
std::vector<Chosen> minimise(const std::vector<Entry>& corpus, const Execute& execute, bool shorten = true,
                             const Pairs* pairs = nullptr);

}  // namespace kiv::gen
