// Writing replayed outputs as a suite, and showing them per step.
#include "suite/record.h"

#include "suite/csv.h"
#include "suite/csv_write.h"
#include "suite/suite.h"

#include <set>

namespace kiv {

namespace {

// An input's value as the suite would write it, by its input's type.
std::string input_text(const Schema& schema, const PlanInput& in) {
    const ValueType& t = schema.inputs[static_cast<std::size_t>(in.index)].type;
    if (in.floating) return value_text(ValueKind::floating, static_cast<uint64_t>(in.value));
    if (!t.is_signed && t.size >= 8) return value_text(ValueKind::unsigned_int, static_cast<uint64_t>(in.value));
    return std::to_string(in.value);
}

// The req, verifies, technique and description cells of a case's first row.
std::string link_cells(const CaseLink* l) {
    if (!l) return ",,,";
    std::string refs;
    for (const auto& r : l->refs)
        refs += (refs.empty() ? "" : ", ") + r.text();
    return "," + csv_field(refs) + "," + (l->linked() ? verifies_name(l->verifies) : "") + "," +
           csv_field(l->technique) + "," + csv_field(l->description);
}

bool in_scope(int32_t owner, int32_t scope) {
    return owner == 0 || owner == scope;
}

}  // namespace

SuiteRecorder::SuiteRecorder(const Schema& schema, const Plan& plan, bool all_outputs) : schema_(schema), plan_(plan) {
    std::set<int> in, checked;
    for (const auto& c : plan.cases)
        for (uint32_t k = c.first_step; k < c.first_step + c.n_steps; ++k) {
            const PlanStep& st = plan.steps[k];
            for (uint32_t i = st.first_input; i < st.first_input + st.n_inputs; ++i)
                in.insert(plan.inputs[i].index);
            for (uint32_t e = st.first_expect; e < st.first_expect + st.n_expects; ++e)
                checked.insert(plan.expects[e].output);
        }
    inputs_.assign(in.begin(), in.end());
    for (std::size_t o = 0; o < schema.outputs.size(); ++o)
        if ((all_outputs || checked.count(static_cast<int>(o))) &&
            (!schema.outputs_resolved || schema.outputs[o].address))
            outputs_.push_back(static_cast<int>(o));
}

void SuiteRecorder::step(std::size_t c, uint32_t s, const std::vector<uint64_t>& outputs) {
    if (s == 0) cases_.push_back(c);
    seen_.push_back(outputs);
}

void SuiteRecorder::write(std::ostream& out) const {
    out << "# Recorded by kivrun: every expect cell holds the value the output had after the step.\n";
    out << "case,scope";
    for (int i : inputs_)
        out << "," << csv_field(schema_.inputs[i].name);
    for (int o : outputs_)
        out << "," << csv_field("expect " + schema_.outputs[o].name);
    // What each case verifies goes along with it.
    const bool links = !plan_.links.empty();
    if (links) out << ",req,verifies,technique,description";
    out << "\n";
    std::set<std::string> names;
    std::size_t row = 0;
    for (std::size_t c : cases_) {
        const PlanCase& pc = plan_.cases[c];
        // A setup case's steps already stand in every case of its file.
        const bool setup = ascii_lower(pc.name) == "setup";
        // Names need only be unique per file; in one file they must be.
        const std::string name = names.insert(pc.name).second ? pc.name : case_id(plan_, pc);
        names.insert(name);
        for (uint32_t s = 0; s < pc.n_steps; ++s, ++row) {
            if (setup) continue;
            const PlanStep& st = plan_.steps[pc.first_step + s];
            out << csv_field(s == 0 ? name : std::string()) << "," << csv_field(scope_name(schema_, st.scope));
            for (int i : inputs_) {
                out << ",";
                // The last value the step writes wins, as in the library.
                const PlanInput* last = nullptr;
                for (uint32_t k = st.first_input; k < st.first_input + st.n_inputs; ++k)
                    if (plan_.inputs[k].index == i) last = &plan_.inputs[k];
                if (last) out << input_text(schema_, *last);
            }
            for (int o : outputs_) {
                out << ",";
                if (in_scope(schema_.outputs[o].scope, st.scope))
                    out << expect_text(kind_of(schema_.outputs[o].type), seen_[row][o]);
            }
            if (links) out << link_cells(s == 0 && pc.link ? &plan_.links[pc.link - 1] : nullptr);
            out << "\n";
        }
    }
}

void show_step(std::ostream& out, const Schema& schema, const Plan& plan, std::size_t c, uint32_t s,
               const std::vector<uint64_t>& outputs) {
    const PlanCase& pc = plan.cases[c];
    const PlanStep& st = plan.steps[pc.first_step + s];
    out << case_id(plan, pc) << " step " << s + 1 << (s < pc.n_setup ? " (setup)" : "") << ", line " << st.line << ", "
        << scope_name(schema, st.scope) << ":";
    for (uint32_t k = st.first_input; k < st.first_input + st.n_inputs; ++k)
        if (const ValueType& t = schema.inputs[plan.inputs[k].index].type; !t.enumerators.empty())
            out << " " << short_name(schema.inputs[plan.inputs[k].index].name) << "="
                << shown_text(t, static_cast<uint64_t>(plan.inputs[k].value));
        else
            out << " " << short_name(schema.inputs[plan.inputs[k].index].name) << "=" << input_text(schema, plan.inputs[k]);
    out << " ->";
    for (std::size_t o = 0; o < schema.outputs.size(); ++o)
        if (in_scope(schema.outputs[o].scope, st.scope) && (!schema.outputs_resolved || schema.outputs[o].address))
            out << " " << short_name(schema.outputs[o].name) << "="
                << shown_text(schema.outputs[o].type, outputs[o]);
    out << "\n";
}

}  // namespace kiv
