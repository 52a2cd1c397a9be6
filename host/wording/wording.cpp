// The phrases every report shares, and the commands and the JSON result
// with them: where a step is, what went wrong in a case, goal labels,
// percentages, counts, text made safe for a terminal.
#include "wording/wording.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace kiv {

namespace {

std::string fixed(double v, int digits) {
    return format("%.*f", digits, v);
}

}  // namespace

std::string format(const char* fmt, ...) {
    va_list args, again;
    va_start(args, fmt);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, again);
    va_end(again);
    return s;
}

std::string count(std::size_t n, const char* singular, const char* plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

std::string percent_text(double value, double against) {
    int digits = 1;
    // More decimals until the printed value stands on the same side of the threshold as the value.
    if (against >= 0 && value != against)
        while (digits < 6 && std::stod(fixed(value, digits)) == std::stod(fixed(against, digits)))
            ++digits;
    return fixed(value, digits);
}

std::string step_where(const CaseResult& c, int32_t step) {
    if (step == 0) return "before its first step (" + c.suite + ":" + std::to_string(c.line) + ")";
    const int32_t line = step >= 1 && step <= static_cast<int32_t>(c.step_lines.size()) ? c.step_lines[step - 1] : 0;
    return "step " + std::to_string(step) + " (" + c.suite + ":" + std::to_string(line) + ")";
}

std::string case_problem(const Result&, const CaseResult& c) {
    std::string s;
    if (c.verdict == Verdict::crashed || c.verdict == Verdict::timed_out) {
        s = c.verdict == Verdict::crashed
                ? (c.signal.empty() ? std::string("the worker died") : c.signal) + " in " + step_where(c, c.fault_step)
                : step_where(c, c.fault_step) + " ran longer than the step timeout";
        s += c.goals_kept ? "; goals reached before it are kept" : "; goals of that step are lost";
    }
    if (c.verdict == Verdict::not_run) s = "not run";
    if (c.mismatch_count) {
        if (!s.empty()) s += "; ";
        if (!c.mismatches.empty()) {
            const Mismatch& m = c.mismatches.front();
            s += step_where(c, m.step) + ": " + m.output + " expected " + m.expected + ", got " + m.actual_as_text() +
                 " (";
        } else {
            s += "(";
        }
        s += std::to_string(c.mismatch_count) + " of " + count(c.checks, "check", "checks") + " failed)";
    }
    return s;
}

std::vector<std::size_t> goal_order(const Result& r) {
    std::vector<std::size_t> order(r.goals.size());
    for (std::size_t g = 0; g < order.size(); ++g)
        order[g] = g;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return r.goals[a].goal < r.goals[b].goal; });
    return order;
}

std::string goal_label(const GoalResult& g) {
    std::string s = "ID " + std::to_string(g.id);
    if (g.goal) s += " KIV_G" + std::to_string(g.goal);
    return s;
}

std::string unsettled_text(const Unsettled& u) {
    std::string s = u.not_within ? "not within " + count(static_cast<std::size_t>(u.not_within), "step", "steps") : std::string("no bound known");
    return u.why.empty() ? s : s + ": " + u.why;
}

std::string contradiction_text(const Result& r, std::size_t goal) {
    const GoalResult& g = r.goals[goal];
    const CaseResult& c = r.cases[static_cast<std::size_t>(g.first_case)];
    const bool proven = g.justification->proven();
    return g.name() + " is " + (proven ? "proven" : "justified as") + " not reachable (" + g.justification->file + ":" +
           std::to_string(g.justification->line) + ") but case " + c.name + " " + step_where(c, g.first_step) +
           " reached it: the " + (proven ? "proof by " + g.justification->tool + " is wrong" : std::string("justification is wrong"));
}

std::string mcdc_vector_text(const McdcVector& v) {
    return v.values + " -> " + (v.outcome ? "T" : "F");
}

std::string mcdc_contradiction_text(const Result& r, std::size_t decision, std::size_t condition) {
    const McdcDecision& d = r.mcdc->decisions[decision];
    const McdcCondition& c = d.conditions[condition];
    return "MC/DC of " + d.record + " c" + std::to_string(condition) + " (" + c.record +
           ") is justified as not showable (" + c.justification->file + ":" + std::to_string(c.justification->line) +
           ") but the run shows it: the justification is wrong";
}

std::string terminal_text(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n') || u == 0x7F)
            out += format("\\x%02X", u);
        else
            out += c;
    }
    return out;
}

}  // namespace kiv
