// MC/DC independence pairs as coverage for the search: which decision
// vectors a case evaluated, and which conditions the vectors seen so far
// show. Observation::vectors holds a case's distinct vectors, each as the
// decision's index (two bytes), its outcome and one 'T'/'F'/'-' per condition.
#pragma once

#include "mcdc/mcdc.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace kiv::gen {

using DecisionVector = std::pair<std::size_t, mcdc::Vector>;  // (decision, vector)

void encode_vector(std::size_t decision, const mcdc::Vector& v, std::vector<uint8_t>& out);

class Pairs {
public:
    explicit Pairs(std::vector<mcdc::Expression> expressions);

    std::vector<DecisionVector> decode(const std::vector<uint8_t>& vectors) const;
    // Adds a case's vectors; true when a condition is shown that was not before.
    bool note(const std::vector<uint8_t>& vectors);
    // A condition not shown that some vector could still show.
    bool open() const;
    std::size_t shown() const { return shown_; }
    std::size_t total() const { return total_; }
    // The two vectors of each shown condition's pair.
    std::set<DecisionVector> pair_vectors() const;

private:
    std::vector<mcdc::Expression> expressions_;
    std::vector<std::vector<mcdc::Vector>> seen_;  // per decision, distinct, in the order first seen
    std::vector<std::vector<mcdc::ConditionVerdict>> verdicts_;
    std::size_t shown_ = 0, total_ = 0;
};

}  // namespace kiv::gen
