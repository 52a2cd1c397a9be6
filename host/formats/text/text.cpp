// The terminal report.
#include "formats/writers.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <sstream>

namespace kiv {

namespace {

std::string fixed(double v, int digits) {
    return format("%.*f", digits, v);
}

const char* tag_of(Verdict v) {
    switch (v) {
        case Verdict::passed: return "pass ";
        case Verdict::failed: return "FAIL ";
        case Verdict::crashed: return "CRASH";
        case Verdict::timed_out: return "HUNG ";
        case Verdict::not_run: break;
    }
    return "NOTRUN";
}

void cases_text(const Result& r, const Summary& s, std::ostream& out, const TextOptions& o) {
    out << "\nCases: " << s.passed << " passed, " << s.failed << " failed, " << s.crashed << " crashed, "
        << s.timed_out << " timed out";
    if (s.not_run) out << ", " << s.not_run << " not run";
    out << "\n";
    const bool list_passed = o.verbosity >= 2 || (o.verbosity == 1 && r.cases.size() <= 40);
    std::size_t left_out = 0;
    for (const CaseResult& c : r.cases) {
        if (c.verdict == Verdict::passed && !list_passed) {
            ++left_out;
            continue;
        }
        out << "  " << tag_of(c.verdict) << " " << c.name;
        if (c.verdict == Verdict::passed) {
            out << " (" << count(c.checks, "check", "checks") << ")\n";
            continue;
        }
        out << ": " << case_problem(r, c) << "\n";
        // Every failed check, not only the first.
        if (c.mismatches.size() > 1 || (c.mismatches.size() == 1 && c.verdict != Verdict::failed)) {
            out << format("        %-5s %-6s %-44s %10s %8s\n", "step", "line", "output", "expected", "actual");
            for (const Mismatch& m : c.mismatches)
                out << format("        %-5d %-6d %-44s %10s %8s\n", m.step, m.line, m.output.c_str(),
                              m.expected.c_str(), m.actual_as_text().c_str());
        }
    }
    if (left_out)
        out << "  (" << count(left_out, "passed case", "passed cases") << " not listed; -v lists every case)\n";
}

void coverage_text(const Result& r, const Summary& s, std::ostream& out) {
    const bool justifying = !r.run.justification_files.empty();
    out << (justifying ? "\nCoverage        reached  justified  total  reached %  covered %\n"
                       : "\nCoverage        reached  total      %\n");
    auto row = [&](const CoverageRow& c) {
        if (justifying)
            out << format("  %-13s %7zu %10zu %6zu %10.1f %10.1f\n", c.criterion.c_str(), c.reached, c.justified,
                          c.total, c.percent(), c.covered_percent());
        else
            out << format("  %-13s %7zu %6zu  %5.1f\n", c.criterion.c_str(), c.reached, c.total, c.percent());
    };
    for (const auto& c : s.criteria)
        row(c);
    row(s.total);
    if (s.mcdc) row(*s.mcdc);
    if (justifying)
        out << "Verdicts: " << s.total.reached << " reached, " << s.total.proven << " proven unreachable, "
            << s.total.justified - s.total.proven << " justified by hand, " << s.total.unknown() << " unknown\n";
}

std::string ref_text(const Result& r, const McdcRef& ref) {
    const CaseResult& c = r.cases.at(static_cast<std::size_t>(ref.case_index));
    return mcdc_vector_text(ref.vector) + " in " + c.name + " " + step_where(c, ref.step);
}

// Per decision, each condition shown with its pair, or what would complete one.
void mcdc_text(const Result& r, const Summary& s, std::ostream& out) {
    const McdcSection& m = *r.mcdc;
    out << "\nMC/DC (mcdc, not among the goals): " << s.mcdc->reached << " of "
        << count(s.mcdc->total, "condition", "conditions") << " shown to decide their decision on their own";
    if (s.mcdc->justified) out << ", " << s.mcdc->justified << " justified";
    out << "; " << count(m.steps, "step", "steps") << " replayed";
    if (m.steps_not_replayed) out << ", " << m.steps_not_replayed << " not (after a fault or lost)";
    out << "\n";
    for (const McdcDecision& d : m.decisions) {
        std::size_t shown = 0;
        for (const auto& c : d.conditions)
            shown += c.shown;
        out << "  " << d.function << "  " << d.file << ":" << d.line << "  " << d.record << "  " << d.expression << "  ("
            << shown << "/" << d.conditions.size() << " shown, " << count(d.vectors, "vector", "vectors");
        if (d.repeated) out << "; " << d.repeated << " steps evaluated it more than once: no vector";
        out << ")\n";
        for (std::size_t i = 0; i < d.conditions.size(); ++i) {
            const McdcCondition& c = d.conditions[i];
            out << "    c" << i << " " << c.record << "  ";
            if (c.shown) {
                out << "shown: " << ref_text(r, c.first) << " and " << ref_text(r, c.second) << "\n";
                continue;
            }
            out << (c.justification ? "not shown, justified: " + c.justification->reason : std::string("NOT SHOWN"));
            if (c.missing.size() == 1 && c.partner.case_index >= 0)
                out << "; needs " << mcdc_vector_text(c.missing[0]) << " to pair with " << ref_text(r, c.partner);
            else if (c.missing.size() == 2)
                out << "; needs " << mcdc_vector_text(c.missing[0]) << " and " << mcdc_vector_text(c.missing[1]);
            else
                out << "; no pair of evaluations can show it";
            out << "\n";
        }
    }
}

void goal_line(const GoalResult& g, std::ostream& out) {
    out << format("  %-16s %-12s ", goal_label(g).c_str(), g.criterion.empty() ? "unclassified" : g.criterion.c_str())
        << g.meaning << "\n";
}

// Goals not reached: the justified ones with their reasons, then the open ones.
void unreached_text(const Result& r, const Summary& s, std::ostream& out) {
    const std::size_t open = s.total.total - s.total.reached - s.total.justified;
    const auto order = goal_order(r);
    if (s.total.justified) {
        out << "\nGoals not reached, justified (" << s.total.justified << "):\n";
        for (std::size_t g : order)
            if (!r.goals[g].reached() && r.goals[g].justification) {
                goal_line(r.goals[g], out);
                const Justified& j = *r.goals[g].justification;
                if (j.proven())
                    out << "      proven (" << j.method << ", " << j.tool << "): " << j.reason << "\n"
                        << "      by: " << j.proof << "\n";
                else
                    out << "      reason: " << j.reason << "\n";
            }
    }
    if (open)
        out << (r.run.justification_files.empty() ? "\nGoals not reached (" : "\nGoals not reached, open (") << open
            << "):\n";
    // What a prover left open and why, for the first few; the JSON report has every one.
    constexpr std::size_t kReasonsShown = 40;
    std::size_t reasons = 0, unshown = 0;
    std::string from;  // the file the reasons come from
    for (std::size_t g : order) {
        const GoalResult& goal = r.goals[g];
        if (goal.reached() || goal.justification) continue;
        goal_line(goal, out);
        if (!goal.unsettled) continue;
        from = goal.unsettled->file;
        if (reasons++ < kReasonsShown)
            out << "      unknown: " << unsettled_text(*goal.unsettled) << "\n";
        else
            ++unshown;
    }
    if (reasons)
        out << "  (why each is unknown: " << from
            << (unshown ? "; " + count(unshown, "more reason", "more reasons") + " in it and in the JSON report" : "")
            << ")\n";
}

}  // namespace

void write_text_raw(const Result& r, const Summary& s, std::ostream& out, const TextOptions& o);


void write_text(const Result& r, const Summary& s, std::ostream& terminal, const TextOptions& o) {
    // Names, outputs and values come from suites and results: rendered first,
    // then written with their control bytes escaped.
    std::ostringstream out;
    write_text_raw(r, s, out, o);
    terminal << terminal_text(out.str());
}

void write_text_raw(const Result& r, const Summary& s, std::ostream& out, const TextOptions& o) {
    std::size_t steps = 0;
    for (const auto& c : r.cases)
        steps += c.step_lines.size();
    if (o.verbosity >= 1) {
        out << "kivrun: " << count(r.cases.size(), "case", "cases") << ", " << count(steps, "step", "steps") << ", "
            << fixed(r.run.seconds, 3) << " s (parse " << fixed(r.run.parse_seconds, 3) << ", run "
            << fixed(r.run.run_seconds, 3) << ", report " << fixed(r.run.report_seconds, 3) << "; " << r.run.isolation
            << ", " << count(static_cast<std::size_t>(r.run.workers), "worker", "workers") << ")\n";
        if (r.run.shard_index >= 0)
            out << "shard " << r.run.shard_index << "/" << r.run.shard_count << " of the cases\n";
    }
    cases_text(r, s, out, o);
    if (o.verbosity >= 1) {
        coverage_text(r, s, out);
        unreached_text(r, s, out);
        if (r.mcdc) mcdc_text(r, s, out);
    }
    if (o.trace) {
        out << "\nFirst reached by:\n";
        for (std::size_t g : goal_order(r))
            if (const GoalResult& goal = r.goals[g]; goal.reached()) {
                const CaseResult& c = r.cases[static_cast<std::size_t>(goal.first_case)];
                out << format("  %-16s %-12s ", goal_label(goal).c_str(), goal.criterion.c_str()) << c.id() << ", " << step_where(c, goal.first_step) << ": " << goal.meaning << "\n";
            }
    }
    if (o.trace) {
        bool heading = false;
        for (const CaseResult& c : r.cases) {
            if (c.unique_goals.empty()) continue;
            if (!heading) out << "\nGoals only one case reaches:\n";
            heading = true;
            out << "  " << c.id() << " (" << count(c.unique_goals.size(), "goal", "goals") << ")\n";
            std::vector<int32_t> goals = c.unique_goals;
            std::sort(goals.begin(), goals.end(),
                      [&](int32_t a, int32_t b) { return r.goals[a].goal < r.goals[b].goal; });
            for (int32_t g : goals) {
                out << "  ";
                goal_line(r.goals[g], out);
            }
        }
    }
    if (!s.contradictions.empty()) out << "\nErrors (" << s.contradictions.size() << "):\n";
    for (std::size_t g : s.contradictions)
        out << "  " << contradiction_text(r, g) << "\n";
    if (!s.mcdc_contradictions.empty())
        out << "\nMC/DC warnings (" << s.mcdc_contradictions.size() << "):\n";
    for (const auto& [d, c] : s.mcdc_contradictions)
        out << "  " << mcdc_contradiction_text(r, d, c) << "\n";
    if (!s.thresholds.empty())
        out << (r.run.justification_files.empty() ? "\nThresholds:\n"
                                                  : "\nThresholds (percent covered: reached + justified):\n");
    for (const auto& t : s.thresholds) {
        const double actual = t.row.covered_percent();
        out << "  " << t.threshold.criterion << " " << percent_text(actual, t.threshold.percent) << "% "
            << (t.met ? ">=" : "<") << " " << percent_text(t.threshold.percent, actual)
            << "%: " << (t.met ? "met" : "NOT MET") << " (" << t.row.reached + t.row.justified << " of "
            << t.row.total << (t.threshold.criterion == "mcdc" ? " conditions)\n" : " goals)\n");
    }
    if (o.requirements) o.requirements(out);
    out << "\n"
        << (o.reports_failed   ? "FAILED (a report was not written)"
            : !s.all_passed()  ? "FAILED"
            : o.gate_failed    ? "FAILED (a requirement gate was not met)"
                               : "PASSED")
        << "\n";
}

}  // namespace kiv
