// The executor's outcome as a result: names instead of indices, every case in
// exactly one final state.
#include "exec/from_run.h"

#include "exec/channel.h"
#include "identity/identity.h"
#include "exec/replay.h"
#include "suite/value.h"

#include <ostream>

#include <string.h>

namespace kiv {

namespace {

// A failed check's value from the raw bits of its output's type.
void set_actual(Mismatch& m, const ValueType& type, uint64_t raw) {
    m.actual = static_cast<int64_t>(raw);
    // An unsigned value beyond int64_t's range keeps its text, never its bits read as negative.
    if (type.floating || (kind_of(type) == ValueKind::unsigned_int && m.actual < 0))
        m.actual_text = value_text(kind_of(type), raw);
    for (const Enumerator& e : type.enumerators)
        if (static_cast<uint64_t>(e.value) == raw) {
            m.actual_name = e.name;
            break;
        }
    m.expected = shown_expect(type, m.expected);
}

}  // namespace

namespace {

Verdict verdict_of(CaseStatus s) {
    switch (s) {
        case CaseStatus::passed: return Verdict::passed;
        case CaseStatus::failed: return Verdict::failed;
        case CaseStatus::crashed: return Verdict::crashed;
        case CaseStatus::timed_out: return Verdict::timed_out;
        default: return Verdict::not_run;  // claimed or pending when the run ended: it did not finish
    }
}


}  // namespace

Result make_result(const Target& target, const Plan& plan, const RunResult& run, RunDescription desc,
                   const std::vector<Justification>& justifications, std::vector<Threshold> thresholds) {
    Result r;
    desc.library_id = target.library_id();
    desc.catalog = target.catalog().path;
    desc.catalog_id = target.catalog().id;
    desc.suites = plan.files;
    desc.run_seconds = run.seconds;
    r.run = std::move(desc);
    r.thresholds = std::move(thresholds);
    const Schema& schema = target.schema();
    r.cases.reserve(plan.cases.size());
    for (std::size_t c = 0; c < plan.cases.size(); ++c) {
        const PlanCase& pc = plan.cases[c];
        const CaseOutcome& o = run.cases[c];
        CaseResult cr;
        cr.suite = plan.files[pc.file];
        cr.name = pc.name;
        cr.line = pc.line;
        cr.step_lines.reserve(pc.n_steps);
        for (uint32_t s = 0; s < pc.n_steps; ++s)
            cr.step_lines.push_back(plan.steps[pc.first_step + s].line);
        cr.checks = static_cast<uint32_t>(o.checks);
        cr.verdict = verdict_of(o.status);
        cr.mismatch_count = static_cast<uint32_t>(o.mismatches);
        cr.seconds = o.seconds;
        if (o.mismatches && o.mismatch_step >= 0 && o.mismatch_output >= 0) {
            Mismatch m;
            m.step = o.mismatch_step + 1;
            m.line = plan.steps[pc.first_step + o.mismatch_step].line;
            m.output = schema.outputs[o.mismatch_output].name;
            m.expected = expect_text_at(plan, pc, o.mismatch_step, o.mismatch_output);
            set_actual(m, schema.outputs[o.mismatch_output].type, o.actual);
            cr.mismatches.push_back(std::move(m));
        }
        if (cr.verdict == Verdict::crashed || cr.verdict == Verdict::timed_out) {
            cr.fault_step = o.fault_step + 1;  // 0: killed before its first step
            cr.signal = cr.verdict == Verdict::crashed ? signal_name(o.signal) : "";
            cr.goals_kept = o.goals_kept;
        }
        r.cases.push_back(std::move(cr));
    }
    r.goals.reserve(schema.goals.size());
    for (std::size_t g = 0; g < schema.goals.size(); ++g) {
        const GoalSlot& slot = schema.goals[g];
        GoalResult gr;
        gr.id = slot.id;
        if (const CatalogGoal* info = slot.info) {
            gr.goal = info->goal;
            gr.criterion = info->criterion;
            gr.kind = info->kind;
            gr.record = info->record;
            gr.field = info->field;
            gr.function = info->function;
            gr.meaning = info->meaning;
            gr.file = info->file;
            gr.line = info->line;
            gr.column = info->column;
            gr.decision = info->decision;
            gr.lines = info->lines;
        }
        gr.count = run.goals[g].count;
        if (run.goals[g].case_index >= 0) {
            gr.first_case = run.goals[g].case_index;
            gr.first_step = run.goals[g].step + 1;
        }
        r.goals.push_back(std::move(gr));
    }
    if (!run.case_goals.empty()) {
        std::vector<int32_t> reached_by(schema.goals.size(), 0);  // cases reaching it
        std::vector<int64_t> last(schema.goals.size(), -1);
        for (std::size_t c = 0; c < run.case_goals.size(); ++c)
            for (std::size_t g = 0; g < schema.goals.size() && !run.case_goals[c].empty(); ++g)
                if (run.case_goals[c][g / 64] >> (g % 64) & 1) ++reached_by[g], last[g] = static_cast<int64_t>(c);
        for (std::size_t g = 0; g < schema.goals.size(); ++g)
            if (reached_by[g] == 1) r.cases[static_cast<std::size_t>(last[g])].unique_goals.push_back(static_cast<int32_t>(g));
    }
    for (const auto& j : justifications)
        r.goals.at(j.goal).justification = Justified{j.reason, j.file, j.line, j.method, j.proof, j.tool};
    return r;
}

void add_every_failed_check(Result& result, const Target& target, const Plan& plan, double step_timeout,
                            std::ostream& warnings) {
    std::vector<std::size_t> failed;
    for (std::size_t c = 0; c < result.cases.size(); ++c)
        if (result.cases[c].mismatch_count > 1) failed.push_back(c);
    if (failed.empty()) return;
    std::vector<std::vector<FailedCheck>> checks;
    try {
        checks = replay_failed_checks(target, plan, failed, step_timeout);
    } catch (const Error& e) {
        warnings << "kivrun: warning: failed checks beyond the first are not listed: " << e.what() << "\n";
        return;
    }
    std::vector<std::vector<Mismatch>> found(result.cases.size());
    for (std::size_t k = 0; k < failed.size(); ++k) {
        const PlanCase& pc = plan.cases[failed[k]];
        for (const FailedCheck& f : checks[k]) {
            const PlanExpect& x = plan.expects[f.expect];
            Mismatch m{static_cast<int32_t>(f.step) + 1, plan.steps[pc.first_step + f.step].line,
                       target.schema().outputs[x.output].name,
                       expect_text_at(plan, pc, static_cast<int32_t>(f.step), x.output)};
            set_actual(m, target.schema().outputs[x.output].type, f.actual);
            found[failed[k]].push_back(std::move(m));
        }
    }
    for (std::size_t c : failed) {
        CaseResult& cr = result.cases[c];
        // A replay that disagrees with the run is not evidence: keep the run's own finding.
        if (found[c].size() != cr.mismatch_count || found[c].front().step != cr.mismatches.front().step) {
            warnings << "kivrun: warning: case " << cr.id()
                     << " gave other outputs when replayed; only its first failed check is listed\n";
            continue;
        }
        cr.mismatches = std::move(found[c]);
    }
}

}  // namespace kiv
