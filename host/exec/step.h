// The step protocol, written once: write a step's inputs, select its scope,
// step, then read outputs and goals. The run's workers, both replays and the
// generator's runner drive the library through it. Inline and allocation-free,
// since it is the worker's inner loop.
#pragma once

#include "load/target.h"
#include "suite/plan.h"

#include <cstdint>
#include <vector>

namespace kiv {

class StepDriver {
public:
    explicit StepDriver(const Target& target) : api_(target.library().api()) {
        for (const auto& o : target.schema().outputs)
            outputs_.push_back(o.address);
    }

    // An input by its index-table index, converted as the library's setter does.
    void set(int32_t index, int64_t value) const { api_.kiv_dll_set_input_int(index, value); }
    // The step of `scope`, with the inputs as they stand.
    void step(int32_t scope) const {
        *api_.KIV_SCOPE_UID = scope;
        api_.kiv_dll_step();
    }
    // A compiled step: its inputs, its scope, the step.
    void step(const Plan& plan, const PlanStep& st) const {
        for (uint32_t i = st.first_input; i < st.first_input + st.n_inputs; ++i)
            set(plan.inputs[i].index, plan.inputs[i].value);
        step(st.scope);
    }

    // Output o (per Schema::outputs) as it stands; 0 when the library has no symbol for it.
    uint8_t output(std::size_t o) const { return outputs_[o] ? *outputs_[o] : 0; }
    // Every output, into values (resized to the number of outputs).
    void outputs(std::vector<uint8_t>& values) const {
        values.resize(outputs_.size());
        for (std::size_t o = 0; o < outputs_.size(); ++o)
            values[o] = output(o);
    }
    std::size_t n_outputs() const { return outputs_.size(); }
    bool has_output(std::size_t o) const { return outputs_[o] != nullptr; }

    // The value of goal g (index into Schema::goals); non-zero once reached.
    int64_t goal(int32_t g) const { return api_.kiv_dll_get_output_int(g); }
    bool reached(int32_t g) const { return goal(g) != 0; }

    const Exports& api() const { return api_; }

private:
    const Exports& api_;
    std::vector<volatile uint8_t*> outputs_;  // per Schema::outputs; null: no symbol
};

}  // namespace kiv
