// Summaries of a run, its justified goals, and the terminal report.
#include "report.h"

#include "error.h"

#include <string.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace kiv {

Threshold parse_threshold(const std::string& text) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) throw Error("--fail-under '" + text + "': expected CRITERION=PERCENT");
    auto name = criterion_named(text.substr(0, eq));
    if (!name)
        throw Error("--fail-under '" + text +
                    "': unknown criterion; expected statement, decision, condition, "
                    "relational, cast, function, call, switch or total");
    const std::string num = text.substr(eq + 1);
    char* end = nullptr;
    const double p = std::strtod(num.c_str(), &end);
    if (num.empty() || *end != '\0' || !(p >= 0 && p <= 100))
        throw Error("--fail-under '" + text + "': expected a percentage from 0 to 100");
    return {*name, p};
}

bool Summary::all_passed() const {
    if (failed || crashed || timed_out) return false;
    for (const auto& t : thresholds)
        if (!t.met) return false;
    return true;
}

Report::Report(const Target& target, const Plan& plan, const RunResult& result, RunInfo info,
               std::vector<Threshold> thresholds, std::vector<Justification> justifications)
    : target_(target),
      plan_(plan),
      result_(result),
      info_(std::move(info)),
      justifications_(std::move(justifications)),
      justified_by_(target.schema().goals.size(), -1) {
    for (std::size_t j = 0; j < justifications_.size(); ++j)
        justified_by_.at(justifications_[j].goal) = static_cast<int32_t>(j);
    std::map<std::string, CoverageRow> rows;
    summary_.total.criterion = "total";
    for (std::size_t g : goal_order()) {
        const bool hit = result.goals[g].case_index >= 0;
        const bool justified = justified_by_[g] >= 0;
        // A reached goal counts as reached whatever its justification says.
        if (hit && justified) summary_.contradictions.push_back({g, static_cast<std::size_t>(justified_by_[g])});
        auto& row = rows[criterion_of(g)];
        row.total++, row.reached += hit, row.justified += justified && !hit;
        summary_.total.total++, summary_.total.reached += hit, summary_.total.justified += justified && !hit;
    }
    for (const auto& c : kCriteria)
        if (auto it = rows.find(c.name); it != rows.end()) {
            it->second.criterion = c.name;
            summary_.criteria.push_back(it->second);
        }
    for (const auto& c : result.cases) {
        summary_.passed += c.status == CaseStatus::passed;
        summary_.failed += c.status == CaseStatus::failed;
        summary_.crashed += c.status == CaseStatus::crashed;
        summary_.timed_out += c.status == CaseStatus::timed_out;
    }
    for (const auto& t : thresholds) {
        double actual = summary_.total.covered_percent();
        if (t.criterion != "total") {
            auto it = rows.find(t.criterion);
            if (it == rows.end())
                throw Error("--fail-under " + t.criterion + ": the library has no goals of that criterion" +
                            (target.catalog().present() ? "" : " known without a catalog"));
            actual = it->second.covered_percent();
        }
        // Compared at the precision the report prints, so "90.0 < 90" never happens.
        const bool met = std::round(actual * 10) / 10 >= t.percent - 1e-9;
        summary_.thresholds.push_back({t, actual, met});
    }
}

std::string Report::fixed(double v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

std::string Report::signal_name(int sig) {
    const char* abbrev = sigabbrev_np(sig);
    return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
}

// In goal order, which groups them by unit and criterion.
std::vector<std::size_t> Report::goal_order() const {
    const auto& goals = target_.schema().goals;
    std::vector<std::size_t> order(goals.size());
    for (std::size_t g = 0; g < order.size(); ++g)
        order[g] = g;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return (goals[a].info ? goals[a].info->goal : 0) < (goals[b].info ? goals[b].info->goal : 0);
    });
    return order;
}

const Justification* Report::justification_of(std::size_t g) const {
    return justified_by_[g] >= 0 ? &justifications_[justified_by_[g]] : nullptr;
}

std::string Report::contradiction_text(const Contradiction& c) const {
    const auto& r = result_.goals[c.goal];
    const Justification& j = justifications_[c.justification];
    return goal_name(c.goal) + " is justified as not reachable (" + j.file + ":" + std::to_string(j.line) +
           ") but case " + plan_.cases[r.case_index].name + " " + step_where(r.case_index, r.step) +
           " reached it: the justification is wrong";
}

std::string Report::criterion_of(std::size_t g) const {
    const auto* info = target_.schema().goals[g].info;
    return info ? info->criterion : "unclassified";
}

std::string Report::goal_name(std::size_t g) const {
    const auto& slot = target_.schema().goals[g];
    return slot.info ? "KIV_G" + std::to_string(slot.info->goal) : "ID " + std::to_string(slot.id);
}

std::string Report::goal_label(std::size_t g) const {
    const auto& slot = target_.schema().goals[g];
    std::string s = "ID " + std::to_string(slot.id);
    if (slot.info) s += " KIV_G" + std::to_string(slot.info->goal);
    return s;
}

std::string Report::step_where(int64_t c, int32_t step) const {
    const PlanCase& pc = plan_.cases[c];
    const PlanStep& st = plan_.steps[pc.first_step + step];
    return "step " + std::to_string(step + 1) + " (" + plan_.files[pc.file] + ":" + std::to_string(st.line) + ")";
}

// One line on what went wrong in case c, empty when it passed.
std::string Report::case_problem(std::size_t c) const {
    const CaseOutcome& o = result_.cases[c];
    std::string s;
    if (o.status == CaseStatus::crashed || o.status == CaseStatus::timed_out) {
        const int32_t step = std::max(o.fault_step, 0);
        s = o.status == CaseStatus::crashed
                ? (o.signal ? signal_name(o.signal) : std::string("the worker died")) + " in " + step_where(c, step)
                : step_where(c, step) + " ran longer than " + fixed(info_.step_timeout, 3) + " s";
        s += o.goals_kept ? "; goals reached before it are kept" : "; goals of that step are lost";
    }
    if (o.mismatches) {
        if (!s.empty()) s += "; ";
        s += step_where(c, o.mismatch_step) + ": " + target_.schema().outputs[o.mismatch_output].name + " expected " +
             expect_text_at(plan_, plan_.cases[c], o.mismatch_step, o.mismatch_output) + ", got " +
             std::to_string(o.actual) + " (" + std::to_string(o.mismatches) + " of " + std::to_string(o.checks) +
             " checks failed)";
    }
    return s;
}

void Report::text(std::ostream& out, bool trace) const {
    const Summary& s = summary_;
    std::size_t steps = 0;
    for (const auto& c : plan_.cases)
        steps += c.n_steps;
    out << "kivrun: " << plan_.cases.size() << " cases, " << steps << " steps, " << fixed(result_.seconds, 3) << " s ("
        << (info_.isolation == Isolation::snapshot ? "snapshot" : "fork") << ", " << info_.workers
        << (info_.workers == 1 ? " worker)\n" : " workers)\n");
    out << "\nCases: " << s.passed << " passed, " << s.failed << " failed, " << s.crashed << " crashed, " << s.timed_out
        << " timed out\n";
    const bool list_all = plan_.cases.size() <= 40;
    for (std::size_t c = 0; c < plan_.cases.size(); ++c) {
        const auto st = result_.cases[c].status;
        if (st == CaseStatus::passed && !list_all) continue;
        const char* tag = st == CaseStatus::passed      ? "pass "
                          : st == CaseStatus::failed    ? "FAIL "
                          : st == CaseStatus::crashed   ? "CRASH"
                          : st == CaseStatus::timed_out ? "HUNG "
                                                        : "SKIP ";
        const PlanCase& pc = plan_.cases[c];
        out << "  " << tag << " " << pc.name;
        if (st == CaseStatus::passed)
            out << " (" << result_.cases[c].checks << " checks)";
        else
            out << ": " << case_problem(c);
        out << "\n";
    }
    coverage_text(out);
    unreached_text(out);
    const auto& goals = target_.schema().goals;
    if (trace) {
        out << "\nFirst reached by:\n";
        for (std::size_t g = 0; g < goals.size(); ++g)
            if (const auto& r = result_.goals[g]; r.case_index >= 0)
                out << "  " << goal_label(g) << "  " << plan_.cases[r.case_index].name << ", "
                    << step_where(r.case_index, r.step) << "\n";
    }
    if (!s.contradictions.empty()) out << "\nWarnings (" << s.contradictions.size() << "):\n";
    for (const auto& c : s.contradictions)
        out << "  " << contradiction_text(c) << "\n";
    if (!s.thresholds.empty())
        out << (info_.justification_files.empty() ? "\nThresholds:\n"
                                                  : "\nThresholds (percent covered: reached + justified):\n");
    for (const auto& t : s.thresholds)
        out << "  " << t.threshold.criterion << " " << fixed(t.actual) << "% " << (t.met ? ">=" : "<") << " "
            << fixed(t.threshold.percent) << "%: " << (t.met ? "met" : "NOT MET") << "\n";
    out << "\n" << (s.all_passed() ? "PASSED" : "FAILED") << "\n";
}

// The coverage table; the justified and covered columns only when
// justification files were given, so plain runs read as they always did.
void Report::coverage_text(std::ostream& out) const {
    const bool justifying = !info_.justification_files.empty();
    out << (justifying ? "\nCoverage        reached  justified  total  reached %  covered %\n"
                       : "\nCoverage        reached  total      %\n");
    char line[128];
    auto row = [&](const CoverageRow& r) {
        if (justifying)
            std::snprintf(line, sizeof line, "  %-13s %7zu %10zu %6zu %10.1f %10.1f\n", r.criterion.c_str(), r.reached,
                          r.justified, r.total, r.percent(), r.covered_percent());
        else
            std::snprintf(line, sizeof line, "  %-13s %7zu %6zu  %5.1f\n", r.criterion.c_str(), r.reached, r.total,
                          r.percent());
        out << line;
    };
    for (const auto& r : summary_.criteria)
        row(r);
    row(summary_.total);
}

// Goals not reached: the justified ones with their reasons, then the open ones.
void Report::unreached_text(std::ostream& out) const {
    const auto& goals = target_.schema().goals;
    const CoverageRow& t = summary_.total;
    const std::size_t open = t.total - t.reached - t.justified;
    const auto order = goal_order();
    char line[96];
    auto goal_line = [&](std::size_t g) {
        std::snprintf(line, sizeof line, "  %-16s %-12s ", goal_label(g).c_str(), criterion_of(g).c_str());
        out << line << (goals[g].info ? goals[g].info->meaning : "") << "\n";
    };
    if (t.justified) {
        out << "\nGoals not reached, justified (" << t.justified << "):\n";
        for (std::size_t g : order)
            if (const Justification* j = justification_of(g); j && result_.goals[g].case_index < 0) {
                goal_line(g);
                out << "      reason: " << j->reason << "\n";
            }
    }
    if (open)
        out << (info_.justification_files.empty() ? "\nGoals not reached (" : "\nGoals not reached, open (") << open
            << "):\n";
    for (std::size_t g : order)
        if (result_.goals[g].case_index < 0 && !justification_of(g)) goal_line(g);
}

}  // namespace kiv
