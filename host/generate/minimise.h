// From a corpus to a small suite: a greedy set cover of the goals reached,
// then each chosen case shortened while it still reaches what it is chosen for.
#pragma once

#include "search.h"

#include <cstddef>
#include <vector>

namespace kiv::gen {

struct Chosen {
    Case steps;
    std::vector<std::size_t> goals;  // the goals it is in the suite for, none reached by an earlier case
    Observation seen;                // of its final form: goals reached, outputs after each step
};

// Greedy cover: repeatedly the case that reaches most goals not yet covered,
// the shorter on a tie. Each Chosen holds the goals it newly covers; `seen`
// is left empty.
std::vector<Chosen> cover(const std::vector<Entry>& corpus);

// Shortens each chosen case (steps removed, then cells removed, while every
// goal it is chosen for is still reached), covers again so a case that became
// redundant goes, and runs the result once more to record what it shows.
std::vector<Chosen> minimise(const std::vector<Entry>& corpus, const Execute& execute, bool shorten = true);

}  // namespace kiv::gen
