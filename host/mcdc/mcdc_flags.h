// Reading one step's evaluation of a decision from its probe records: the
// flags are cleared before the step and merged back after it, so the records
// end as if never touched and the goals read from them are unchanged.
#pragma once

#include "mcdc/mcdc.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv::mcdc {

// A decision's probe record and its conditions' records, in evaluation order.
struct Watched {
    volatile uint8_t* decision = nullptr;
    std::vector<volatile uint8_t*> conditions;
};

// One flag pair of a record: cleared before a step, read and merged back after it.
struct FlagPair {
    volatile uint8_t* f;
    volatile uint8_t* t;
    uint8_t old_f = 0, old_t = 0, new_f = 0, new_t = 0;
    void clear() {
        old_f = *f;
        old_t = *t;
        *f = 0;
        *t = 0;
    }
    // Flags only ever go from 0 to 1, so or-ing the old ones back is exact.
    void collect() {
        new_f = *f;
        new_t = *t;
        *f = static_cast<uint8_t>(old_f | new_f);
        *t = static_cast<uint8_t>(old_t | new_t);
    }
    char value() const { return new_t && !new_f ? 'T' : new_f && !new_t ? 'F' : '-'; }
};

enum Status : uint8_t { not_evaluated, once, repeated };

// The flags of every watched decision and its conditions for one step.
class StepFlags {
public:
    explicit StepFlags(const std::vector<Watched>& watched);
    std::size_t size() const { return decisions_.size(); }

    void before() {
        for (std::size_t d = 0; d < decisions_.size(); ++d) {
            decisions_[d].clear();
            for (auto& f : conditions_[d])
                f.clear();
        }
    }
    void after() {
        for (std::size_t d = 0; d < decisions_.size(); ++d) {
            decisions_[d].collect();
            for (auto& f : conditions_[d])
                f.collect();
        }
    }

    // Two evaluations with different vectors always differ in a condition
    // both evaluated (the first where they part), so a condition or the
    // decision with both flags set is the only sign of more than one vector.
    Status status(std::size_t d) const {
        const FlagPair& dec = decisions_[d];
        if (!dec.new_f && !dec.new_t) return not_evaluated;
        if (dec.new_f && dec.new_t) return repeated;
        for (const auto& f : conditions_[d])
            if (f.new_f && f.new_t) return repeated;
        return once;
    }
    bool outcome(std::size_t d) const { return decisions_[d].value() == 'T'; }
    // Per condition 'T', 'F' or '-'; a decision without conditions of its own is its one condition.
    std::size_t width(std::size_t d) const { return std::max<std::size_t>(conditions_[d].size(), 1); }
    char value(std::size_t d, std::size_t k) const {
        return conditions_[d].empty() ? decisions_[d].value() : conditions_[d][k].value();
    }

private:
    std::vector<FlagPair> decisions_;
    std::vector<std::vector<FlagPair>> conditions_;
};

}  // namespace kiv::mcdc
