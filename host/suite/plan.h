// A run's test cases compiled to flat arrays: inputs as index-table indices,
// checks as output slots, so the worker's loop only indexes and never allocates.
#pragma once

#include "model/trace.h"
#include "suite/value.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

struct PlanInput {
    int32_t index;  // into the library's input index table
    bool floating;  // written through the _float accessor: value holds a double's bits
    int64_t value;
};

// The values an `expect` cell accepts: value..high in the order of `kind`,
// or (set != 0) only the members of Plan::sets[set - 1], which all lie in
// value..high. Values are raw bits (suite/value.h).
struct ExpectRange {
    ValueKind kind;
    uint16_t set;
    uint64_t value;  // the lowest value accepted; the only one for a plain value
    uint64_t high;
};

// One check of a step, in 8 bytes as an 8-bit value's was: a plain integer
// below 2^32 (nearly every cell) is held in place, any other check (a
// range, a set, a floating, negative or wider value) as the index of its
// ExpectRange. A suite of a million ten-step cases holds millions of them.
struct PlanExpect {
    int32_t output : 31;  // into Schema::outputs
    bool ranged : 1;      // `value` is an index into Plan::ranges
    uint32_t value;       // else the only value accepted (zero-extended)
};
static_assert(sizeof(PlanExpect) == 8);

// The members of an `expect` set, sorted by their raw bits.
struct ValueSet {
    std::vector<uint64_t> members;
    void add(uint64_t v) { members.insert(std::lower_bound(members.begin(), members.end(), v), v); }
    bool has(uint64_t v) const { return std::binary_search(members.begin(), members.end(), v); }
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
    uint32_t link = 0;  // what it verifies: Plan::links[link - 1]; 0: no traceability cells
};

struct Plan {
    std::vector<std::string> files;
    std::vector<PlanCase> cases;
    std::vector<PlanStep> steps;
    std::vector<PlanInput> inputs;
    std::vector<PlanExpect> expects;
    std::vector<ExpectRange> ranges;  // of the checks not held in place
    std::vector<ValueSet> sets;
    std::vector<CaseLink> links;
};

// The check as an ExpectRange, whether held in place or not.
inline ExpectRange range_of(const Plan& plan, const PlanExpect& x) {
    if (x.ranged) return plan.ranges[x.value];
    return {ValueKind::unsigned_int, 0, x.value, x.value};  // a plain value below 2^32 reads the same in either integer kind
}

// The check of `output` for the accepted values `r`: held in place when it can be.
inline PlanExpect compact_expect(Plan& plan, int32_t output, const ExpectRange& r) {
    if (r.kind != ValueKind::floating && r.set == 0 && r.value == r.high && r.value <= UINT32_MAX)
        return {output, false, static_cast<uint32_t>(r.value)};
    plan.ranges.push_back(r);
    return {output, true, static_cast<uint32_t>(plan.ranges.size() - 1)};
}

// Whether an output's value passes a check; the worker's one comparison.
inline bool accepts(const Plan& plan, const PlanExpect& x, uint64_t actual) {
    if (!x.ranged) return actual == x.value;  // the common case, the 8-bit outputs included
    const ExpectRange& r = plan.ranges[x.value];
    if (r.kind == ValueKind::unsigned_int) {
        if (actual < r.value || actual > r.high) return false;
    } else if (value_less(r.kind, actual, r.value) || value_less(r.kind, r.high, actual) ||
               (r.kind == ValueKind::floating && double_of(actual) != double_of(actual))) {
        return false;  // a NaN lies in no range
    }
    return r.set == 0 || plan.sets[r.set - 1].has(actual);
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
