// The result model: its summary, thresholds compared exactly, and its JSON
// form, which reads back into the same model.
#include "model/result.h"

#include "catalog/catalog.h"
#include "error.h"
#include "model/result_document.h"
#include "formats/writers.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

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
    if (failed || crashed || timed_out || not_run) return false;
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

const std::vector<std::string>& criterion_order() {
    static const std::vector<std::string> order = [] {
        std::vector<std::string> v;
        for (const auto& c : kCriteria)
            v.push_back(c.name);
        v.push_back("unclassified");
        return v;
    }();
    return order;
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
        // A reached goal counts as reached whatever its justification says.
        if (hit && justified) s.contradictions.push_back(g);
        auto& row = rows[goal.criterion.empty() ? "unclassified" : goal.criterion];
        row.total++, row.reached += hit, row.justified += justified && !hit;
        s.total.total++, s.total.reached += hit, s.total.justified += justified && !hit;
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

// ---- JSON ----

namespace {

using nlohmann::json;

constexpr const char* kMarker = "kivrun result";
constexpr const char* kCasesMark = "kivrun:cases";
constexpr int kFormat = 1;

json coverage_json(const CoverageRow& r) {
    return {{"criterion", r.criterion},   {"reached", r.reached},
            {"justified", r.justified},   {"total", r.total},
            {"percent", r.percent()},     {"covered_percent", r.covered_percent()}};
}

json goal_json(const Result& r, const GoalResult& g) {
    json j{{"id", g.id},
           {"criterion", g.criterion},
           {"reached", g.reached()},
           {"status", g.reached() ? "reached" : g.justification ? "justified" : "open"}};
    if (g.goal) {
        j["goal"] = g.goal;
        j["kind"] = g.kind;
        j["record"] = g.record;
        j["field"] = g.field;
        j["function"] = g.function;
        j["meaning"] = g.meaning;
    }
    if (!g.file.empty()) {
        j["file"] = g.file;
        j["line"] = g.line;
        j["column"] = g.column;
    }
    if (!g.decision.empty()) j["decision"] = g.decision;
    if (g.reached()) {
        const CaseResult& c = r.cases.at(static_cast<std::size_t>(g.first_case));
        j["first"] = {{"case", c.name},
                      {"suite", c.suite},
                      {"case_index", g.first_case},
                      {"step", g.first_step},
                      {"line", g.first_step >= 1 && g.first_step <= static_cast<int32_t>(c.step_lines.size())
                                   ? c.step_lines[g.first_step - 1]
                                   : 0}};
        if (c.shard >= 0) j["first"]["shard"] = c.shard;
    }
    // Kept on a reached goal too: it is what the warnings contradict.
    if (g.justification)
        j["justification"] = {
            {"reason", g.justification->reason}, {"file", g.justification->file}, {"line", g.justification->line}};
    return j;
}

json vector_json(const McdcVector& v) {
    return {{"values", v.values}, {"outcome", v.outcome}};
}

json ref_json(const Result& r, const McdcRef& ref) {
    json j{{"case_index", ref.case_index}, {"step", ref.step}, {"vector", vector_json(ref.vector)}};
    if (ref.case_index >= 0 && static_cast<std::size_t>(ref.case_index) < r.cases.size())
        j["case"] = r.cases[static_cast<std::size_t>(ref.case_index)].id();
    return j;
}

json mcdc_json(const Result& r, const McdcSection& m, const CoverageRow& row) {
    json j{{"steps", m.steps}, {"steps_not_replayed", m.steps_not_replayed}, {"coverage", coverage_json(row)}};
    j["decisions"] = json::array();
    for (const auto& d : m.decisions) {
        json jd{{"record", d.record},         {"function", d.function}, {"file", d.file},
                {"line", d.line},             {"column", d.column},     {"expression", d.expression},
                {"vectors", d.vectors},       {"repeated", d.repeated}, {"conditions", json::array()}};
        for (const auto& c : d.conditions) {
            json jc{{"record", c.record}, {"shown", c.shown}};
            if (c.shown) jc["pair"] = {ref_json(r, c.first), ref_json(r, c.second)};
            if (!c.shown) {
                jc["missing"] = json::array();
                for (const auto& v : c.missing)
                    jc["missing"].push_back(vector_json(v));
                if (c.partner.case_index >= 0) jc["partner"] = ref_json(r, c.partner);
            }
            if (c.justification)
                jc["justification"] = {{"reason", c.justification->reason},
                                       {"file", c.justification->file},
                                       {"line", c.justification->line}};
            jd["conditions"].push_back(jc);
        }
        j["decisions"].push_back(jd);
    }
    return j;
}

template <class T>
T field(const json& j, const char* key, const std::string& what) {
    auto it = j.find(key);
    if (it == j.end()) throw Error(what + ": not a kivrun result (missing '" + key + "')");
    try {
        return it->get<T>();
    } catch (const json::exception&) {
        throw Error(what + ": not a kivrun result ('" + key + "' has the wrong type)");
    }
}

template <class T>
T optional_field(const json& j, const char* key, T fallback, const std::string& what) {
    return j.contains(key) ? field<T>(j, key, what) : fallback;
}

McdcVector read_vector(const json& j, const std::string& what) {
    McdcVector v{field<std::string>(j, "values", what), field<bool>(j, "outcome", what)};
    for (char c : v.values)
        if (c != 'T' && c != 'F' && c != '-') throw Error(what + ": not a kivrun result (an MC/DC vector of '" + v.values + "')");
    return v;
}

McdcRef read_ref(const json& j, const Result& r, const std::string& what) {
    McdcRef ref{field<int64_t>(j, "case_index", what), field<int32_t>(j, "step", what),
                read_vector(field<json>(j, "vector", what), what)};
    if (ref.case_index < 0 || static_cast<std::size_t>(ref.case_index) >= r.cases.size())
        throw Error(what + ": not a kivrun result (an MC/DC vector names no case)");
    return ref;
}

McdcSection read_mcdc(const json& j, const Result& r, const std::string& what) {
    McdcSection m;
    m.steps = field<uint64_t>(j, "steps", what);
    m.steps_not_replayed = field<uint64_t>(j, "steps_not_replayed", what);
    for (const json& jd : field<json>(j, "decisions", what)) {
        McdcDecision d;
        d.record = field<std::string>(jd, "record", what);
        d.function = field<std::string>(jd, "function", what);
        d.file = field<std::string>(jd, "file", what);
        d.line = field<int32_t>(jd, "line", what);
        d.column = field<int32_t>(jd, "column", what);
        d.expression = field<std::string>(jd, "expression", what);
        d.vectors = field<uint64_t>(jd, "vectors", what);
        d.repeated = field<uint64_t>(jd, "repeated", what);
        for (const json& jc : field<json>(jd, "conditions", what)) {
            McdcCondition c;
            c.record = field<std::string>(jc, "record", what);
            c.shown = field<bool>(jc, "shown", what);
            if (c.shown) {
                const json& pair = field<json>(jc, "pair", what);
                if (!pair.is_array() || pair.size() != 2) throw Error(what + ": not a kivrun result (an MC/DC pair)");
                c.first = read_ref(pair[0], r, what);
                c.second = read_ref(pair[1], r, what);
            } else {
                for (const json& v : field<json>(jc, "missing", what))
                    c.missing.push_back(read_vector(v, what));
                if (jc.contains("partner")) c.partner = read_ref(jc["partner"], r, what);
            }
            if (jc.contains("justification")) {
                const json& js = jc["justification"];
                c.justification = Justified{field<std::string>(js, "reason", what),
                                            field<std::string>(js, "file", what), field<int32_t>(js, "line", what)};
            }
            d.conditions.push_back(std::move(c));
        }
        m.decisions.push_back(std::move(d));
    }
    return m;
}

}  // namespace

void write_json(const Result& r, std::ostream& out) {
    const Summary s = summarize(r);
    json j;
    j["format"] = kMarker;
    j["version"] = kFormat;
    const RunDescription& d = r.run;
    j["run"] = {{"library", d.library},
                {"library_id", d.library_id},
                {"catalog", d.catalog},
                {"catalog_id", d.catalog_id},
                {"suites", d.suites},
                {"justification_files", d.justification_files},
                {"isolation", d.isolation},
                {"workers", d.workers},
                {"step_timeout", d.step_timeout},
                {"started", d.started},
                {"seconds", d.seconds},
                {"parse_seconds", d.parse_seconds},
                {"run_seconds", d.run_seconds},
                {"report_seconds", d.report_seconds}};
    if (d.shard_index >= 0) j["run"]["shard"] = {{"index", d.shard_index}, {"count", d.shard_count}};
    j["summary"] = {{"cases", s.cases()},         {"passed", s.passed},         {"failed", s.failed},
                    {"crashed", s.crashed},       {"timed_out", s.timed_out},   {"not_run", s.not_run},
                    {"all_passed", s.all_passed()}};
    j["coverage"]["criteria"] = json::array();
    for (const auto& row : s.criteria)
        j["coverage"]["criteria"].push_back(coverage_json(row));
    j["coverage"]["total"] = coverage_json(s.total);
    j["goals"] = json::array();
    for (const auto& g : r.goals)
        j["goals"].push_back(goal_json(r, g));
    j["cases"] = kCasesMark;  // written in place below
    j["warnings"] = json::array();
    for (std::size_t g : s.contradictions) {
        const GoalResult& goal = r.goals[g];
        const CaseResult& c = r.cases[static_cast<std::size_t>(goal.first_case)];
        j["warnings"].push_back({{"id", goal.id},
                                 {"goal", goal.goal},
                                 {"case", c.id()},
                                 {"step", goal.first_step},
                                 {"justification", goal_json(r, goal)["justification"]},
                                 {"message", contradiction_text(r, g)}});
    }
    if (r.mcdc) {
        j["mcdc"] = mcdc_json(r, *r.mcdc, *s.mcdc);
        for (const auto& [d, c] : s.mcdc_contradictions)
            j["warnings"].push_back({{"decision", r.mcdc->decisions[d].record},
                                     {"condition", c},
                                     {"message", mcdc_contradiction_text(r, d, c)}});
    }
    j["thresholds"] = json::array();
    for (const auto& t : r.thresholds) {
        json jt{{"criterion", t.criterion}, {"required", t.percent}, {"measure", "covered_percent"}};
        for (const auto& tr : s.thresholds)
            if (tr.threshold.criterion == t.criterion && tr.threshold.percent == t.percent) {
                jt["actual"] = tr.row.covered_percent();
                jt["covered"] = tr.row.reached + tr.row.justified;
                jt["total"] = tr.row.total;
                jt["met"] = tr.met;
            }
        j["thresholds"].push_back(jt);
    }
    // Names come from user files: anything that is not UTF-8 is replaced, never a throw after the run.
    const std::string text = j.dump(2, ' ', false, json::error_handler_t::replace);
    // The cases, one a line and without a node each: a merged run holds hundreds of thousands.
    const std::string mark = std::string("\n  \"cases\": \"") + kCasesMark + "\"";
    const std::size_t at = text.find(mark);
    out.write(text.data(), static_cast<std::streamsize>(at + mark.size() - std::strlen(kCasesMark) - 2));
    write_cases_json(r.cases, r.goals, out, 4);
    out << text.substr(at + mark.size()) << "\n";
}

Result read_json(std::istream& in, const std::string& what) {
    const ResultDocument doc(in, what);
    const json& j = doc.rest();
    if (!j.is_object() || j.value("format", json()) != kMarker)
        throw Error(what + ": not a kivrun result (no \"format\": \"" + kMarker + "\")");
    if (field<int>(j, "version", what) != kFormat)
        throw Error(what + ": a kivrun result of another version than " + std::to_string(kFormat));
    Result r;
    const json& run = field<json>(j, "run", what);
    RunDescription& d = r.run;
    d.library = field<std::string>(run, "library", what);
    d.library_id = field<std::string>(run, "library_id", what);
    d.catalog = field<std::string>(run, "catalog", what);
    d.catalog_id = field<std::string>(run, "catalog_id", what);
    d.suites = field<std::vector<std::string>>(run, "suites", what);
    d.justification_files = field<std::vector<std::string>>(run, "justification_files", what);
    d.isolation = field<std::string>(run, "isolation", what);
    d.workers = field<int>(run, "workers", what);
    d.step_timeout = field<double>(run, "step_timeout", what);
    d.started = field<std::string>(run, "started", what);
    d.seconds = field<double>(run, "seconds", what);
    d.parse_seconds = optional_field<double>(run, "parse_seconds", 0, what);
    d.run_seconds = optional_field<double>(run, "run_seconds", 0, what);
    d.report_seconds = optional_field<double>(run, "report_seconds", 0, what);
    if (run.contains("shard")) {
        d.shard_index = field<int32_t>(run["shard"], "index", what);
        d.shard_count = field<int32_t>(run["shard"], "count", what);
    }
    r.cases = doc.cases();
    r.goals = doc.goals(r.cases.size());
    std::map<int32_t, int32_t> index_of;
    for (std::size_t g = 0; g < r.goals.size(); ++g)
        index_of[r.goals[g].id] = static_cast<int32_t>(g);
    for (CaseResult& c : r.cases)
        for (int32_t& g : c.unique_goals) {
            auto it = index_of.find(g);
            if (it == index_of.end())
                throw Error(what + ": not a kivrun result (case " + c.id() + " names goal " + std::to_string(g) +
                            ", which it does not list)");
            g = it->second;
        }
    if (j.contains("mcdc")) r.mcdc = read_mcdc(j["mcdc"], r, what);
    for (const json& jt : field<json>(j, "thresholds", what))
        r.thresholds.push_back({field<std::string>(jt, "criterion", what), field<double>(jt, "required", what)});
    return r;
}

Result read_json_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("cannot read " + path);
    return read_json(in, path);
}

}  // namespace kiv
