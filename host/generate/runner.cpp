// Running a generated case in-process against the loaded library.
#include "generate/runner.h"

#include <algorithm>
#include <cstdint>
#include <map>

namespace kiv::gen {

std::vector<int64_t> dictionary_for(const std::vector<int64_t>& at_load, const std::vector<int64_t>& constants,
                                    int64_t min, int64_t max) {
    std::vector<int64_t> v{0, 1, 2, max - 1, max};
    if (min < 0) v.insert(v.end(), {min, min + 1, -1});
    v.insert(v.end(), at_load.begin(), at_load.end());
    for (int64_t c : constants)
        for (int64_t d : {c - 1, c, c + 1})
            v.push_back(d);
    std::vector<int64_t> out;
    for (int64_t x : v)
        if (x >= min && x <= max) out.push_back(x);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

Runner::Runner(const Target& target, const std::vector<int64_t>& constants) : drive_(target), near_(target) {
    const Schema& s = target.schema();
    for (const auto& sc : s.scopes)
        space_.scopes.push_back(sc.uid);
    // The inputs' values at load are the calibration the unit ships with,
    // worth trying in any input; the registered index of input i is i.
    for (std::size_t i = 0; i < s.inputs.size(); ++i)
        at_load_.push_back(drive_.api().kiv_dll_get_input_int(static_cast<int32_t>(i)));
    std::map<int32_t, const ValueType*> type_of;
    std::map<int32_t, bool> follows;
    for (const auto& ci : target.catalog().inputs)
        type_of[ci.id] = &ci.type, follows[ci.id] = ci.follows_unit;
    for (const auto& slot : s.inputs) {
        InputSpace in;
        in.scope = slot.scope;
        follows_.push_back(follows[slot.id] ? 1 : 0);
        in.boolean = slot.setter == Setter::boolean;
        // The type's range, written through the integer setter: a floating
        // input takes integers in the 32-bit range.
        if (const auto t = type_of.find(slot.id); t != type_of.end() && !in.boolean) {
            const ValueType& vt = *t->second;
            in.boolean = vt.boolean;
            in.min = vt.floating ? INT32_MIN : vt.min_int();
            in.max = vt.floating ? INT32_MAX
                                 : static_cast<int64_t>(std::min<uint64_t>(vt.max_uint(), INT64_MAX));
        }
        if (in.boolean) in.min = 0, in.max = 1;
        if (!in.boolean) in.dictionary = dictionary_for(at_load_, constants, in.min, in.max);
        space_.inputs.push_back(std::move(in));
    }
    for (std::size_t o = 0; o < s.outputs.size(); ++o)
        if (drive_.has_output(o)) outputs_.push_back(o);
    space_.at_load = at_load_;
    space_.goals = s.goals.size();
    space_.outputs = outputs_.size();
    snapshot_.take(target.library().writable());
}

// A cell is written only where the value differs from what the input holds
// (or where the unit may have changed what it holds), exactly as the suite
// file will say it, so the run here and `kivrun run` of the written suite
// drive the library alike.
void Runner::execute(const Case& c, Observation& obs) {
    current_ = at_load_;
    obs.outputs.resize(c.size() * outputs_.size());
    obs.reached.resize(space_.goals);
    uint64_t* out = obs.outputs.data();
    vectors_.clear();
    near_.start();
    for (std::size_t k = 0; k < c.size(); ++k) {
        const Step& st = c[k];
        if (beat_) {
            step_->store(static_cast<int32_t>(k), std::memory_order_relaxed);
            beat_->fetch_add(1, std::memory_order_relaxed);
        }
        for (const Set& x : st.sets)
            if (writes(current_, x)) {
                drive_.set(x.input, x.value);
                current_[x.input] = x.value;
            }
        if (flags_) flags_->before();
        drive_.step(st.scope);
        if (flags_) {
            flags_->after();
            // A decision evaluated more than once in the step left no vector
            // that can be trusted: none is taken, as in the run's replay.
            for (std::size_t d = 0; d < flags_->size(); ++d)
                if (flags_->status(d) == mcdc::once) {
                    mcdc::Vector v{std::string(flags_->width(d), '-'), flags_->outcome(d)};
                    for (std::size_t k = 0; k < v.values.size(); ++k)
                        v.values[k] = flags_->value(d, k);
                    vectors_.emplace(d, std::move(v));
                }
        }
        for (std::size_t o : outputs_)
            *out++ = drive_.output(o);
        near_.after_step(static_cast<uint32_t>(k));
    }
    for (std::size_t g = 0; g < space_.goals; ++g)
        obs.reached[g] = drive_.reached(static_cast<int32_t>(g));
    if (near_.empty())
        obs.distance.clear(), obs.near_step.clear();
    else
        near_.finish(obs.reached, obs);
    obs.vectors.clear();
    for (const auto& [d, v] : vectors_)
        encode_vector(d, v, obs.vectors);
    snapshot_.restore();
}

}  // namespace kiv::gen
