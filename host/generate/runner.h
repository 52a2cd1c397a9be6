// The search's view of a loaded harness library: the space of scopes, inputs
// and values it searches, and a case run in this process from the state at
// load, as `kivrun run` would run the suite it becomes.
#pragma once

#include "mcdc/mcdc_flags.h"
#include "generate/mcdc_pairs.h"
#include "generate/nearness.h"
#include "generate/search.h"
#include "exec/snapshot.h"
#include "exec/step.h"
#include "load/target.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

namespace kiv::gen {

// Values worth trying for a plain input: 0, 1, 2, the two largest and, when
// signed, the two smallest of its range, the inputs' values at load, and each
// constant the unit compares against with one below and one above, all within
// [min, max].
std::vector<int64_t> dictionary_for(const std::vector<int64_t>& at_load, const std::vector<int64_t>& constants,
                                    int64_t min = 0, int64_t max = 255);

class Runner {
public:
    // constants: the integers the unit's comparisons and case labels use.
    Runner(const Target& target, const std::vector<int64_t>& constants);

    const Space& space() const { return space_; }
    const std::vector<int64_t>& at_load() const { return at_load_; }  // per input
    // Whether a step's cell x is written, given the values last written
    // (current): where it differs, or where the input holds what the unit
    // left after a step, which may differ from the last value written. The
    // run here and the suite file both follow this one rule.
    bool writes(const std::vector<int64_t>& current, const Set& x) const {
        return current[x.input] != x.value || (x.input < follows_.size() && follows_[x.input]);
    }
    const std::vector<std::size_t>& outputs() const { return outputs_; }  // Space output -> Schema::outputs

    // Runs c from the state at load, then restores it. Bumps *beat before each
    // step when given, so a watcher can tell a hung step from a slow search.
    void execute(const Case& c, Observation& obs);
    void watch(std::atomic<uint64_t>* beat, std::atomic<int32_t>* step) { beat_ = beat, step_ = step; }
    // From now on execute() also gives the distinct vectors each of these
    // decisions had in the case, in the encoding of mcdc_pairs.h.
    void watch_decisions(const std::vector<mcdc::Watched>& decisions) {
        flags_ = std::make_unique<mcdc::StepFlags>(decisions);
    }

private:
    StepDriver drive_;
    Snapshot snapshot_;
    Space space_;
    std::vector<int64_t> at_load_, current_;
    std::vector<uint8_t> follows_;
    std::vector<std::size_t> outputs_;
    std::atomic<uint64_t>* beat_ = nullptr;
    std::atomic<int32_t>* step_ = nullptr;
    std::unique_ptr<mcdc::StepFlags> flags_;
    Nearness near_;
    std::set<DecisionVector> vectors_;
};

}  // namespace kiv::gen
