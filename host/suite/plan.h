// A run's test cases compiled to flat arrays: inputs as index-table indices,
// checks as output slots, so the worker's loop only indexes and never allocates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

struct PlanInput {
    int32_t index;  // into the library's input index table
    int64_t value;
};

struct PlanExpect {
    int32_t output;  // into Schema::outputs
    uint8_t value;
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
};

struct Plan {
    std::vector<std::string> files;
    std::vector<PlanCase> cases;
    std::vector<PlanStep> steps;
    std::vector<PlanInput> inputs;
    std::vector<PlanExpect> expects;
};

// The plan with its cases repeated until it holds n cases, named "<case>#<k>"
// from the second round on; for benchmarks and load tests.
Plan repeat_cases(const Plan& plan, std::size_t n);

}  // namespace kiv
