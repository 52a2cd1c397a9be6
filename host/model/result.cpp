// The result model: its summary and thresholds compared exactly (its JSON
// form is result_json.cpp).
#include "model/result.h"

#include "catalog/catalog.h"
#include "error.h"

#include <cmath>
#include <cstring>
#include <map>

namespace kiv {

namespace {

constexpr const char* kVerdictNames[] = {"passed", "failed", "crashed", "timed out", "not run"};

// A threshold in millionths of a percent, so comparisons are exact integers.
constexpr int64_t kScale = 1'000'000;

}  // namespace

const char* verdict_name(Verdict v) {
    return kVerdictNames[static_cast<int>(v)];
}

std::optional<Verdict> verdict_named(const std::string& name) {
    for (int v = 0; v < 5; ++v)
        if (name == kVerdictNames[v]) return static_cast<Verdict>(v);
    return std::nullopt;
}

std::string GoalResult::name() const {
    return goal ? "KIV_G" + std::to_string(goal) : "ID " + std::to_string(id);
}

bool CoverageRow::meets(double required_percent) const {
    const auto required = static_cast<int64_t>(std::llround(required_percent * kScale));
    // covered / total >= required / (100 * kScale)
    const auto covered = static_cast<__int128>(reached + justified) * 100 * kScale;
    return covered >= static_cast<__int128>(required) * static_cast<__int128>(total);
}

bool Summary::all_passed() const {
    if (failed || crashed || timed_out || not_run || !contradictions.empty()) return false;
    for (const auto& t : thresholds)
        if (!t.met) return false;
    return true;
}

Threshold parse_threshold(const std::string& text) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) throw Error("--fail-under '" + text + "': expected CRITERION=PERCENT");
    const std::string key = text.substr(0, eq);
    std::optional<std::string> name = key == "mcdc" || key == "MCDC" ? std::optional<std::string>("mcdc")
                                                                     : criterion_named(key);
    if (!name)
        throw Error("--fail-under '" + text +
                    "': unknown criterion; expected statement, decision, condition, "
                    "relational, cast, function, call, switch, mcdc or total");
    // Digits, optionally a point and up to six more: what the exact comparison keeps.
    const std::string num = text.substr(eq + 1);
    std::size_t i = 0, point = std::string::npos;
    for (; i < num.size(); ++i) {
        if (num[i] == '.' && point == std::string::npos) {
            point = i;
            continue;
        }
        if (num[i] < '0' || num[i] > '9') break;
    }
    const bool well_formed = !num.empty() && i == num.size() && num != "." && num.front() != '.' &&
                             (point == std::string::npos || (num.size() - point - 1 >= 1 && num.size() - point - 1 <= 6));
    const double p = well_formed ? std::stod(num) : -1;
    if (!well_formed || p > 100)
        throw Error("--fail-under '" + text + "': expected a percentage from 0 to 100 (at most six decimals)");
    return {*name, p};
}

void check_threshold_criterion(const Threshold& t, bool has_goals, bool without_catalog) {
    if (t.criterion == "total" || t.criterion == "mcdc" || has_goals) return;
    throw Error("--fail-under " + t.criterion + ": the library has no goals of that criterion" +
                (without_catalog ? " known without a catalog" : ""));
}

Summary summarize(const Result& result) {
    Summary s;
    std::map<std::string, CoverageRow> rows;
    s.total.criterion = "total";
    for (std::size_t g = 0; g < result.goals.size(); ++g) {
        const GoalResult& goal = result.goals[g];
        const bool hit = goal.reached(), justified = goal.justification.has_value();
        const bool proven = justified && !hit && goal.justification->proven();
        // A reached goal counts as reached whatever its justification says.
        if (hit && justified) s.contradictions.push_back(g);
        auto& row = rows[goal.criterion.empty() ? "unclassified" : goal.criterion];
        row.total++, row.reached += hit, row.justified += justified && !hit, row.proven += proven;
        s.total.total++, s.total.reached += hit, s.total.justified += justified && !hit, s.total.proven += proven;
    }
    for (const std::string& name : criterion_order())
        if (auto it = rows.find(name); it != rows.end()) {
            it->second.criterion = name;
            s.criteria.push_back(it->second);
        }
    for (const auto& c : result.cases)
        switch (c.verdict) {
            case Verdict::passed: ++s.passed; break;
            case Verdict::failed: ++s.failed; break;
            case Verdict::crashed: ++s.crashed; break;
            case Verdict::timed_out: ++s.timed_out; break;
            case Verdict::not_run: ++s.not_run; break;
        }
    if (result.mcdc) {
        CoverageRow row;
        row.criterion = "mcdc";
        for (std::size_t d = 0; d < result.mcdc->decisions.size(); ++d) {
            const auto& conditions = result.mcdc->decisions[d].conditions;
            for (std::size_t c = 0; c < conditions.size(); ++c) {
                const bool justified = conditions[c].justification.has_value();
                if (conditions[c].shown && justified) s.mcdc_contradictions.push_back({d, c});
                row.total++, row.reached += conditions[c].shown, row.justified += justified && !conditions[c].shown;
            }
        }
        s.mcdc = row;
    }
    for (const auto& t : result.thresholds) {
        CoverageRow row = s.total;
        if (t.criterion == "mcdc") {
            if (!s.mcdc) throw Error("--fail-under mcdc: the run did not measure MC/DC; add --mcdc");
            row = *s.mcdc;
        } else if (t.criterion != "total") {
            auto it = rows.find(t.criterion);
            check_threshold_criterion(t, it != rows.end(), result.run.catalog.empty());
            row = it->second;
        }
        s.thresholds.push_back({t, row, row.meets(t.percent)});
    }
    return s;
}

}  // namespace kiv
