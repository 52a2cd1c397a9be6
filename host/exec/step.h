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
            outputs_.push_back({o.address, static_cast<uint8_t>(o.type.size), kind_of(o.type)});
    }

    // An input by its index-table index, converted as the library's setter does.
    void set(int32_t index, int64_t value) const { api_.kiv_dll_set_input_int(index, value); }
    // A compiled input: a floating one through the _float accessor.
    void set(const PlanInput& in) const {
        if (in.floating)
            api_.kiv_dll_set_input_float(in.index, double_of(static_cast<uint64_t>(in.value)));
        else
            api_.kiv_dll_set_input_int(in.index, in.value);
    }
    // The step of `scope`, with the inputs as they stand.
    void step(int32_t scope) const {
        *api_.KIV_SCOPE_UID = scope;
        api_.kiv_dll_step();
    }
    // A compiled step: its inputs, its scope, the step.
    void step(const Plan& plan, const PlanStep& st) const {
        for (uint32_t i = st.first_input; i < st.first_input + st.n_inputs; ++i)
            set(plan.inputs[i]);
        step(st.scope);
    }

    // Output o (per Schema::outputs) as it stands, as raw bits of its kind
    // (suite/value.h); 0 when the library has no symbol for it.
    uint64_t output(std::size_t o) const {
        const Output& out = outputs_[o];
        if (out.size == 1 && out.kind == ValueKind::unsigned_int)  // the common case first
            return out.address ? *out.address : 0;
        return read(out);
    }
    // Every output, into values (resized to the number of outputs).
    void outputs(std::vector<uint64_t>& values) const {
        values.resize(outputs_.size());
        for (std::size_t o = 0; o < outputs_.size(); ++o)
            values[o] = output(o);
    }
    std::size_t n_outputs() const { return outputs_.size(); }
    bool has_output(std::size_t o) const { return outputs_[o].address != nullptr; }

    // The value of goal g (index into Schema::goals); non-zero once reached.
    int64_t goal(int32_t g) const { return api_.kiv_dll_get_output_int(g); }
    bool reached(int32_t g) const { return goal(g) != 0; }

    const Exports& api() const { return api_; }

private:
    struct Output {
        volatile uint8_t* address;  // null: no symbol
        uint8_t size;               // bytes: 1, 2, 4 or 8
        ValueKind kind;
    };

    // A variable of any size and kind, widened to 64 bits; one volatile read.
    static uint64_t read(const Output& out) {
        if (out.address == nullptr) return 0;
        const volatile uint8_t* p = out.address;
        const bool s = out.kind == ValueKind::signed_int;
        switch (out.size) {
            case 1:
                return s ? static_cast<uint64_t>(int64_t{*reinterpret_cast<const volatile int8_t*>(p)}) : *p;
            case 2:
                return s ? static_cast<uint64_t>(int64_t{*reinterpret_cast<const volatile int16_t*>(p)})
                         : *reinterpret_cast<const volatile uint16_t*>(p);
            case 4:
                if (out.kind == ValueKind::floating)
                    return raw_of(static_cast<double>(*reinterpret_cast<const volatile float*>(p)));
                return s ? static_cast<uint64_t>(int64_t{*reinterpret_cast<const volatile int32_t*>(p)})
                         : *reinterpret_cast<const volatile uint32_t*>(p);
            default:
                return *reinterpret_cast<const volatile uint64_t*>(p);  // a double's bits already
        }
    }

    const Exports& api_;
    std::vector<Output> outputs_;  // per Schema::outputs
};

}  // namespace kiv
