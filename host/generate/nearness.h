// How near a case came to each relational and cast goal it did not reach,
// read from the gaps the comparison and cast probes keep: the search's sense
// of direction where a goal sits behind a counter or a threshold.
#pragma once

#include "generate/search.h"
#include "load/target.h"

#include <cstdint>
#include <vector>

namespace kiv::gen {

class Nearness {
public:
    // Finds the record of every relational goal by symbol; none when the
    // library's probes keep no gaps or it has no symbol table.
    explicit Nearness(const Target& target);
    bool empty() const { return records_.empty(); }

    void start();                   // before a case's first step
    void after_step(uint32_t step);  // notes which gaps the step narrowed
    // Per goal its distance (0 for a goal reached, kFar without a measure)
    // and the step where the case came that near.
    void finish(const std::vector<uint8_t>& reached, Observation& obs) const;

private:
    struct Record {
        // Complement of the smallest gap seen: left under right (a cast: the
        // value's gap to its minimum) and left at or over right (to its maximum).
        volatile const uint32_t* below;
        volatile const uint32_t* above;
        uint32_t at_load_below = 0, at_load_above = 0;
        uint32_t now_below = 0, now_above = 0;
        uint32_t step_below = 0, step_above = 0;
    };
    enum class Field : uint8_t { flip, one_below, equal, one_above, below_only, above_only };
    template <class R>
    void find(const Target& target);
    struct Goal {
        std::size_t goal, record;
        Field field;
    };
    std::vector<Record> records_;
    std::vector<Goal> goals_;
    std::size_t goal_count_ = 0;
};

}  // namespace kiv::gen
