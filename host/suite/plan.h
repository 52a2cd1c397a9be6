// A run's test cases compiled to flat arrays: inputs as index-table indices,
// checks as output slots, so the worker's loop only indexes and never allocates.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

struct PlanInput {
    int32_t index;  // into the library's input index table
    int64_t value;
};

// The values an `expect` cell accepts: value..high, or (set != 0) only the
// members of Plan::sets[set - 1], which all lie in value..high.
struct PlanExpect {
    int32_t output;  // into Schema::outputs
    uint8_t value;   // the lowest value accepted; the only one for a plain value
    uint8_t high;
    uint16_t set;
};

// 256 bits, one per value an output can hold.
struct ValueSet {
    std::array<uint64_t, 4> bits{};
    void add(uint8_t v) { bits[v >> 6] |= uint64_t{1} << (v & 63); }
    bool has(uint8_t v) const { return (bits[v >> 6] >> (v & 63)) & 1; }
};

struct PlanStep {
    int32_t scope;
    uint32_t first_input, n_inputs;    // into Plan::inputs
    uint32_t first_expect, n_expects;  // into Plan::expects
    int32_t line;                      // suite line the step came from
};

struct PlanCase {
    std::string name;
    uint32_t file;  // into Plan::files
    int32_t line;
    uint32_t first_step, n_steps;  // into Plan::steps
    // The first n_setup steps are those of the file's `setup` case, run again
    // here without their checks (the setup case itself reports those).
    uint32_t n_setup = 0;
};

struct Plan {
    std::vector<std::string> files;
    std::vector<PlanCase> cases;
    std::vector<PlanStep> steps;
    std::vector<PlanInput> inputs;
    std::vector<PlanExpect> expects;
    std::vector<ValueSet> sets;
};

// Whether an output's value passes a check; the worker's one comparison.
inline bool accepts(const Plan& plan, const PlanExpect& x, uint8_t actual) {
    if (actual < x.value || actual > x.high) return false;
    return x.set == 0 || plan.sets[x.set - 1].has(actual);
}

// The check as a suite writes it: "35", "30..35", "0|1".
std::string expect_text(const Plan& plan, const PlanExpect& x);

// The check of `output` at step `step` (from 0) of a case as written; empty
// when the step has none. A suite checks an output at most once per step.
std::string expect_text_at(const Plan& plan, const PlanCase& c, int32_t step, int32_t output);

// "suite:case", the suite being the file's name without folder and
// extension: how every report and selection names a case.
std::string case_id(const Plan& plan, const PlanCase& c);

// The plan with its cases repeated until it holds n cases, named "<case>#<k>"
// from the second round on; for benchmarks and load tests.
Plan repeat_cases(const Plan& plan, std::size_t n);

}  // namespace kiv
