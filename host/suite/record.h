// What a replay saw, written back as a suite (--record) or shown per step
// (--show-outputs).
#pragma once

#include "suite/plan.h"
#include "load/target.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kiv {

// Collects the outputs after each step of the cases replayed, in replay
// order, and writes them as a suite: one row per step, every input the
// step sets, and an expect column per output the suites check (per output
// at all with all_outputs) holding the value seen, in the steps of the
// output's scope. Running that suite passes every check by construction:
// a baseline in one run. A setup case's steps are written into each case.
class SuiteRecorder {
public:
    SuiteRecorder(const Schema& schema, const Plan& plan, bool all_outputs);
    void step(std::size_t c, uint32_t s, const std::vector<uint64_t>& outputs);
    void write(std::ostream& out) const;

private:
    const Schema& schema_;
    const Plan& plan_;
    std::vector<int> inputs_, outputs_;       // columns: slots in schema order
    std::vector<std::size_t> cases_;          // in replay order
    std::vector<std::vector<uint64_t>> seen_;  // per step replayed
};

// One line for a step: its case, step, line and scope, the inputs it sets
// and the outputs of its scope after it.
void show_step(std::ostream& out, const Schema& schema, const Plan& plan, std::size_t c, uint32_t s,
               const std::vector<uint64_t>& outputs);

}  // namespace kiv
