// Comparing two results: coverage per criterion, goals by ID, cases by
// suite:case; written as text for people and as JSON for tools.
#include "compare/diff.h"

#include <sstream>

#include "catalog/catalog.h"
#include "wording/wording.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <map>
#include <unordered_map>

namespace kiv {

namespace {

std::string reach_text(const Result& r, const GoalResult& g) {
    const CaseResult& c = r.cases.at(static_cast<std::size_t>(g.first_case));
    std::string s = c.id() + " " + step_where(c, g.first_step);
    if (c.shard >= 0) s += ", shard " + std::to_string(c.shard);
    return s;
}

std::string criterion_of(const GoalResult& g) {
    return g.criterion.empty() ? "unclassified" : g.criterion;
}

void compare_goals(const Result& a, const Result& b, ResultDiff& d) {
    std::unordered_map<int32_t, const GoalResult*> in_new;
    for (const GoalResult& g : b.goals)
        in_new.emplace(g.id, &g);
    std::map<std::string, CriterionChange> rows;
    auto count = [&](const GoalResult& g, bool old_side) {
        CriterionChange& row = rows[criterion_of(g)];
        for (CriterionChange* r : {&row, &d.total}) {
            (old_side ? r->old_total : r->new_total)++;
            (old_side ? r->old_reached : r->new_reached) += g.reached();
        }
    };
    std::unordered_map<int32_t, bool> in_old;
    for (std::size_t i : goal_order(a)) {
        const GoalResult& g = a.goals[i];
        in_old.emplace(g.id, true);
        count(g, true);
        auto it = in_new.find(g.id);
        if (it == in_new.end()) {
            d.goals_only_old.push_back(goal_label(g));
            continue;
        }
        const GoalResult& n = *it->second;
        if (g.reached() && !n.reached()) d.lost.push_back({g, reach_text(a, g)});
        if (!g.reached() && n.reached()) d.gained.push_back({n, reach_text(b, n)});
    }
    for (std::size_t i : goal_order(b)) {
        const GoalResult& g = b.goals[i];
        count(g, false);
        if (!in_old.count(g.id)) d.goals_only_new.push_back(goal_label(g));
    }
    for (const GoalChange& c : d.gained)
        rows[criterion_of(c.goal)].gained++, d.total.gained++;
    for (const GoalChange& c : d.lost)
        rows[criterion_of(c.goal)].lost++, d.total.lost++;
    d.total.criterion = "total";
    for (const std::string& name : criterion_order())
        if (auto it = rows.find(name); it != rows.end()) {
            it->second.criterion = name;
            d.criteria.push_back(it->second);
        }
}

void compare_cases(const Result& a, const Result& b, ResultDiff& d) {
    std::unordered_map<std::string, const CaseResult*> in_old;
    in_old.reserve(a.cases.size());
    for (const CaseResult& c : a.cases)
        in_old.emplace(c.id(), &c);
    std::unordered_map<std::string, bool> in_new;
    in_new.reserve(b.cases.size());
    for (const CaseResult& c : b.cases) {
        std::string id = c.id();
        in_new.emplace(id, true);
        auto it = in_old.find(id);
        const bool passes = c.verdict == Verdict::passed;
        CaseChange change{std::move(id), std::nullopt, c.verdict, case_problem(b, c)};
        if (it == in_old.end()) {
            d.added.push_back(std::move(change));
            continue;
        }
        change.before = it->second->verdict;
        const bool passed = it->second->verdict == Verdict::passed;
        if (passed && !passes) d.newly_failing.push_back(std::move(change));
        if (!passed && passes) d.newly_passing.push_back(std::move(change));
    }
    for (const CaseResult& c : a.cases)
        if (!in_new.count(c.id())) d.removed.push_back({c.id(), c.verdict, std::nullopt, case_problem(a, c)});
}

std::string verdict_text(const std::optional<Verdict>& v) {
    return v ? verdict_name(*v) : "absent";
}

void goal_list(const char* title, const std::vector<GoalChange>& goals, const char* how, std::ostream& out) {
    if (goals.empty()) return;
    out << "\n" << title << " (" << goals.size() << "):\n";
    for (const GoalChange& c : goals) {
        out << format("  %-16s %-12s ", goal_label(c.goal).c_str(), criterion_of(c.goal).c_str()) << c.goal.meaning << "\n      " << how << " " << c.reached << "\n";
    }
}

// Cases that passed before or come new are many in a large change: the first
// few are listed; every case that newly fails is.
void case_list(const char* title, const std::vector<CaseChange>& cases, std::size_t limit, std::ostream& out) {
    if (cases.empty()) return;
    out << "\n" << title << " (" << cases.size() << "):\n";
    std::size_t shown = 0;
    for (const CaseChange& c : cases) {
        if (shown++ == limit) {
            out << "  ... and " << cases.size() - limit << " more (--json lists every one)\n";
            break;
        }
        out << "  " << c.id;
        if (c.before && c.after) out << "  " << verdict_name(*c.before) << " -> " << verdict_name(*c.after);
        else if (c.after) out << "  " << verdict_name(*c.after);
        if (!c.problem.empty() && c.after && *c.after != Verdict::passed) out << ": " << c.problem;
        out << "\n";
    }
}

}  // namespace

std::size_t ResultDiff::added_failing() const {
    std::size_t n = 0;
    for (const CaseChange& c : added)
        n += c.after && *c.after != Verdict::passed;
    return n;
}

ResultDiff diff_results(const Result& before, const Result& after, const std::string& old_path,
                        const std::string& new_path) {
    ResultDiff d;
    d.old_path = old_path, d.new_path = new_path;
    d.old_library_id = before.run.library_id, d.new_library_id = after.run.library_id;
    d.old_cases = before.cases.size(), d.new_cases = after.cases.size();
    compare_goals(before, after, d);
    compare_cases(before, after, d);
    compare_requirements(before, after, d);
    return d;
}

namespace {
void write_diff_text_raw(const ResultDiff& d, std::ostream& out);
}  // namespace

void write_diff_text(const ResultDiff& d, std::ostream& terminal) {
    std::ostringstream out;
    write_diff_text_raw(d, out);
    terminal << terminal_text(out.str());
}

namespace {
void write_diff_text_raw(const ResultDiff& d, std::ostream& out) {
    out << "kivrun diff: " << d.old_path << " (" << count(d.old_cases, "case", "cases") << ") -> " << d.new_path
        << " (" << count(d.new_cases, "case", "cases") << ")\n";
    if (d.old_library_id != d.new_library_id)
        out << "library: " << d.old_library_id << " -> " << d.new_library_id << "\n";
    out << "\nCoverage          old reached       new reached   gained    lost\n";
    char line[128];
    auto row = [&](const CriterionChange& c) {
        std::snprintf(line, sizeof line, "  %-13s %8zu of %-5zu %8zu of %-5zu %6zu %7zu\n", c.criterion.c_str(),
                      c.old_reached, c.old_total, c.new_reached, c.new_total, c.gained, c.lost);
        out << line;
    };
    for (const auto& c : d.criteria)
        row(c);
    row(d.total);
    goal_list("Goals lost", d.lost, "was first reached by", out);
    goal_list("Goals gained", d.gained, "first reached by", out);
    if (!d.goals_only_old.empty() || !d.goals_only_new.empty())
        out << "\nThe library's goals changed: " << d.goals_only_old.size() << " only in the old result, "
            << d.goals_only_new.size() << " only in the new\n";
    case_list("Cases newly failing", d.newly_failing, SIZE_MAX, out);
    std::vector<CaseChange> added_failing, added_passing;
    for (const CaseChange& c : d.added)
        (c.after && *c.after != Verdict::passed ? added_failing : added_passing).push_back(c);
    case_list("Cases added, failing", added_failing, SIZE_MAX, out);
    case_list("Cases newly passing", d.newly_passing, 20, out);
    case_list("Cases added, passing", added_passing, 20, out);
    case_list("Cases removed", d.removed, 20, out);
    if (!d.requirements_worse.empty()) out << "\nRequirements newly untested, failing or suspect (" << d.requirements_worse.size() << "):\n";
    for (const RequirementChange& r : d.requirements_worse)
        out << "  " << r.id << "  " << r.before << " -> " << r.after << "\n";
    out << "\n";
    if (!d.regressed()) {
        out << "NO REGRESSION\n";
        return;
    }
    out << "REGRESSED:";
    std::string sep = " ";
    if (!d.lost.empty()) out << sep << count(d.lost.size(), "goal", "goals") << " lost", sep = ", ";
    if (!d.newly_failing.empty())
        out << sep << count(d.newly_failing.size(), "case", "cases") << " newly failing", sep = ", ";
    if (d.added_failing()) out << sep << count(d.added_failing(), "new case", "new cases") << " failing", sep = ", ";
    if (!d.requirements_worse.empty())
        out << sep << count(d.requirements_worse.size(), "requirement", "requirements")
            << " newly untested, failing or suspect";
    out << "\n";
}
}  // namespace

void write_diff_json(const ResultDiff& d, std::ostream& out) {
    using nlohmann::json;
    auto side = [](const std::string& path, const std::string& id, std::size_t cases) {
        return json{{"path", path}, {"library_id", id}, {"cases", cases}};
    };
    auto row = [](const CriterionChange& c) {
        return json{{"criterion", c.criterion}, {"old_reached", c.old_reached}, {"old_total", c.old_total},
                    {"new_reached", c.new_reached}, {"new_total", c.new_total}, {"gained", c.gained},
                    {"lost", c.lost}};
    };
    auto goals = [](const std::vector<GoalChange>& list) {
        json a = json::array();
        for (const GoalChange& c : list)
            a.push_back({{"id", c.goal.id}, {"goal", c.goal.goal}, {"name", c.goal.name()},
                         {"criterion", criterion_of(c.goal)}, {"meaning", c.goal.meaning}, {"reached_by", c.reached}});
        return a;
    };
    auto cases = [](const std::vector<CaseChange>& list) {
        json a = json::array();
        for (const CaseChange& c : list)
            a.push_back({{"case", c.id}, {"before", verdict_text(c.before)}, {"after", verdict_text(c.after)},
                         {"problem", c.problem}});
        return a;
    };
    json j{{"format", "kivrun diff"}, {"version", 1}, {"old", side(d.old_path, d.old_library_id, d.old_cases)},
           {"new", side(d.new_path, d.new_library_id, d.new_cases)}};
    j["coverage"]["criteria"] = json::array();
    for (const auto& c : d.criteria)
        j["coverage"]["criteria"].push_back(row(c));
    j["coverage"]["total"] = row(d.total);
    j["goals"] = {{"gained", goals(d.gained)}, {"lost", goals(d.lost)}, {"only_old", d.goals_only_old},
                  {"only_new", d.goals_only_new}};
    j["cases"] = {{"newly_failing", cases(d.newly_failing)}, {"newly_passing", cases(d.newly_passing)},
                  {"added", cases(d.added)}, {"removed", cases(d.removed)}};
    j["requirements"] = json::array();
    for (const RequirementChange& r : d.requirements_worse)
        j["requirements"].push_back({{"id", r.id}, {"before", r.before}, {"after", r.after}});
    j["regressed"] = d.regressed();
    out << j.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

}  // namespace kiv
