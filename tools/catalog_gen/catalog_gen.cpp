// catalog_gen: expands a unit's tables into the JSON catalog that kivrun reads
// beside the .so (what each variable ID, scope and goal means). Built against
// the unit's root (-I ROOT), so one source serves every harness.
#include "identity/identity.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

struct Record {
    std::string kind, name, function, text;
};
struct Haux {
    int n, scope;
    bool in;
    std::string type, unit_var, name;
    bool follows = false;  // INOUT: after a step it holds the unit variable's value
};
struct Scope {
    int uid;
    std::string name, step, unit, init;
};

// The tables are expanded as constant data, after one empty row so that an
// empty table is still an array, and become strings at start-up in a loop: a
// vector initialised from the rows directly is one function of every row,
// which the optimiser takes minutes over for a unit of many thousand goals.
template <class Out, class Row, std::size_t N, class Make>
std::vector<Out> from_rows(const Row (&rows)[N], Make make) {
    std::vector<Out> out;
    out.reserve(N - 1);
    for (std::size_t i = 1; i < N; ++i) out.push_back(make(rows[i]));
    return out;
}

struct Texts4 {
    const char *a, *b, *c, *d;
};

constexpr Texts4 kRecordRows[] = {{"", "", "", ""},
#define IXA_RECORD(kind, record, function, text) {#kind, #record, #function, text},
#include "unit/records.def"
};
const std::vector<Record> kRecords =
    from_rows<Record>(kRecordRows, [](const Texts4& r) { return Record{r.a, r.b, r.c, r.d}; });

struct ScopeRow {
    int uid;
    const char *name, *step, *unit, *init;
};
constexpr ScopeRow kScopeRows[] = {{0, "", "", "", ""},
#define KIV_SCOPE(uid, name, step, unit, init) {uid, name, #step, #unit, #init},
#include "unit/scopes.def"
};
const std::vector<Scope> kScopes =
    from_rows<Scope>(kScopeRows, [](const ScopeRow& r) { return Scope{r.uid, r.name, r.step, r.unit, r.init}; });

struct HauxRow {
    int n, scope;
    const char *direction, *type, *unit_var, *name;
};
constexpr HauxRow kHauxRows[] = {{0, 0, "", "", "", ""},
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) {n, scope, #direction, #type, #unit_variable, name},
#include "unit/harness_variables.def"
};
const std::vector<Haux> kHaux = from_rows<Haux>(kHauxRows, [](const HauxRow& r) {
    const std::string direction = r.direction;
    return Haux{r.n, r.scope, direction != "OUT", r.type, r.unit_var, r.name, direction == "INOUT"};
});

struct InputId {
    int id, n;
    std::string setter;
};
struct GoalId {
    int id, n;
};
struct InputIdRow {
    int id, n;
    const char* setter;
};
constexpr InputIdRow kInputIdRows[] = {{0, 0, ""},
#define KIV_INPUT_ID(id, n, setter) {id, n, #setter},
#include "unit/harness_ids.def"
};
const std::vector<InputId> kInputIds =
    from_rows<InputId>(kInputIdRows, [](const InputIdRow& r) { return InputId{r.id, r.n, r.setter}; });
constexpr GoalId kGoalIdRows[] = {{0, 0},
#define KIV_GOAL_ID(id, n) {id, n},
#include "unit/harness_ids.def"
};
const std::vector<GoalId> kGoalIds = from_rows<GoalId>(kGoalIdRows, [](const GoalId& r) { return r; });

// The enumerators of enum-typed harness variables, in a table older unit
// sets (and hand-kept ones without enums) do not have.
struct EnumeratorRow {
    int n;
    const char* name;
    int64_t value;
};
constexpr EnumeratorRow kEnumeratorRows[] = {{0, "", 0},
#if __has_include("unit/enums.def")
#define KIV_ENUMERATOR(n, name, value) {n, name, value},
#include "unit/enums.def"
#endif
};

// kiv_haux<n>'s enumerators as the catalog lists them; null when it has none.
nlohmann::json enumerators_of(int n) {
    nlohmann::json out;
    for (std::size_t i = 1; i < std::size(kEnumeratorRows); ++i)
        if (kEnumeratorRows[i].n == n) out.push_back({{"name", kEnumeratorRows[i].name}, {"value", kEnumeratorRows[i].value}});
    return out;
}

struct Goal {
    int n;
    std::string record, field, rule;
};
struct GoalRow {
    int n;
    const char *record, *field, *rule;
};
constexpr GoalRow kGoalRows[] = {{0, "", "", ""},
#define KIV_GOAL(n, record, field, rule) {n, #record, #field, #rule},
#include "unit/goals.def"
};
const std::vector<Goal> kGoals =
    from_rows<Goal>(kGoalRows, [](const GoalRow& r) { return Goal{r.n, r.record, r.field, r.rule}; });

[[noreturn]] void fail(const std::string& why) {
    std::cerr << "catalog_gen: " << why << "\n";
    std::exit(1);
}

// The probe kinds: each one's criterion and what reaching its goals means.
struct KindGoal {
    std::string field;
    bool of_function;     // said of the record's function rather than its call site
    std::string meaning;  // after the function or the site
};
struct ProbeKind {
    std::string kind, criterion;
    std::vector<KindGoal> goals;
};
const ProbeKind& probe_kind(const std::string& kind) {
#define IXA_GOAL(field, rule, subject, meaning, outcome) KindGoal{#field, std::string(#subject) == "FUNCTION", meaning},
#define IXA_PROBE_KIND(kind, criterion, lines, proposed, name, sequence, fields, goals) ProbeKind{#kind, criterion, {goals}},
    static const std::vector<ProbeKind> kinds = {
#include "instrumentation/probe_kinds.def"
    };
#undef IXA_GOAL
    for (const ProbeKind& k : kinds)
        if (k.kind == kind) return k;
    fail("unknown record kind " + kind);
}

const char* criterion(const std::string& kind) { return probe_kind(kind).criterion.c_str(); }

// One line that says what reaching the goal means, from the call site's text.
std::string meaning(const Record& r, const std::string& field) {
    for (const KindGoal& g : probe_kind(r.kind).goals)
        if (g.field == field) return (g.of_function ? r.function : r.function + ": " + r.text) + g.meaning;
    fail("unknown record field " + field);
}

// Where a probe record's construct stands in the plain source, as kivinst
// wrote it into the unit's sites files.
struct Site {
    int unit = 0;
    std::string kind, file;
    int line = 0, column = 0;
    std::optional<std::vector<int64_t>> constants;  // RELOP operands, SC case label
    std::string decision;                           // CC: its decision record
    std::vector<std::string> conditions;            // DC: its conditions, in evaluation order
    std::string expression;                         // DC: over c0..cN-1, "c" without conditions
    std::optional<nlohmann::json> lines;            // STM: [[first, last], ...], the lines of its run
};
using Positions = std::map<std::string, Site>;

[[noreturn]] void bad_input(const std::string& where, const std::string& why) {
    std::cerr << "catalog_gen: " << where << ": " << why << "\n";
    std::exit(2);
}

// Each record's one site in the sites files: a record of the tables with no
// site or with two, a site of an unknown record, or one whose kind is not the
// record's, is an error, so the positions can be trusted to be the record's own.
Positions read_sites(const std::vector<std::string>& files) {
    std::map<std::string, const Record*> known;
    for (const auto& r : kRecords)
        known[r.name] = &r;
    std::map<std::string, std::vector<std::string>> seen;  // record -> the files that place it
    Positions at;
    for (const auto& path : files) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) bad_input(path, "cannot read the sites file");
        nlohmann::json doc;
        try {
            doc = nlohmann::json::parse(text.str());
            if (doc.at("format").get<int>() != 1) bad_input(path, "sites file format " + doc.at("format").dump() + ", expected 1");
            const int unit = doc.at("unit").get<int>();
            int index = 0;
            for (const auto& j : doc.at("sites")) {
                ++index;
                const std::string record = j.at("record").get<std::string>();
                const std::string where = path + ": site " + std::to_string(index) + " (" + record + ")";
                auto r = known.find(record);
                if (r == known.end()) bad_input(where, "the record is in no records table of the unit");
                Site site;
                site.unit = unit;
                site.kind = j.at("kind").get<std::string>();
                if (site.kind != r->second->kind)
                    bad_input(where, "a " + site.kind + " site, but the records table has a " + r->second->kind + " record");
                site.file = j.at("file").get<std::string>();
                site.line = j.at("line").get<int>();
                site.column = j.at("column").get<int>();
                if (j.contains("constants")) site.constants = j["constants"].get<std::vector<int64_t>>();
                if (site.kind == "CC") site.decision = j.at("decision").get<std::string>();
                if (j.contains("lines")) {
                    for (const auto& l : j.at("lines")) {
                        const auto range = l.get<std::vector<int>>();
                        if (range.size() != 2 || range[0] < 1 || range[1] < range[0])
                            bad_input(where, "lines " + l.dump() + " is no range of lines [first, last]");
                    }
                    site.lines = j.at("lines");
                }
                if (site.kind == "DC") {
                    site.conditions = j.at("conditions").get<std::vector<std::string>>();
                    site.expression = j.at("expression").get<std::string>();
                }
                seen[record].push_back(where);
                at[record] = site;
            }
        } catch (const nlohmann::json::exception& e) {
            bad_input(path, std::string("not a sites file: ") + e.what());
        }
    }
    for (const auto& r : kRecords) {
        auto s = seen.find(r.name);
        if (s == seen.end()) bad_input(r.name, "probe record with no site in the sites files");
        if (s->second.size() > 1) {
            std::string where;
            for (const auto& w : s->second)
                where += "\n  " + w;
            bad_input(r.name, "probe record with " + std::to_string(s->second.size()) + " sites:" + where);
        }
    }
    return at;
}

// The "records" table: where each probe record is written, and for decisions
// the formula over their conditions.
nlohmann::json records_json(const Positions& at, std::set<int64_t>& constants) {
    using nlohmann::json;
    json out = json::array();
    for (const auto& r : kRecords) {
        const auto& p = at.at(r.name);
        json j = {{"record", r.name}, {"kind", r.kind}, {"function", r.function}};
        j["unit"] = p.unit;
        j["file"] = p.file;
        j["line"] = p.line;
        j["column"] = p.column;
        if (p.constants) {
            j["constants"] = *p.constants;
            constants.insert(p.constants->begin(), p.constants->end());
        }
        if (r.kind == "CC") j["decision"] = p.decision;
        if (r.kind == "DC") {
            j["conditions"] = p.conditions;
            j["expression"] = p.expression;
        }
        if (p.lines) j["lines"] = *p.lines;
        out.push_back(j);
    }
    return out;
}

nlohmann::json build(const Positions& at) {
    using nlohmann::json;
    std::map<int, const Scope*> scopes;
    for (const auto& s : kScopes)
        scopes[s.uid] = &s;
    std::map<int, const InputId*> id_of_haux;
    for (const auto& i : kInputIds)
        id_of_haux[i.n] = &i;

    std::set<std::string> names;
    json inputs = json::array(), outputs = json::array();
    std::map<int, json> scope_inputs, scope_outputs;
    for (const auto& h : kHaux) {
        auto sc = scopes.find(h.scope);
        if (sc == scopes.end()) fail("harness variable in unknown scope " + std::to_string(h.scope));
        std::string name = sc->second->name + "." + h.name;
        // Inputs and outputs are apart (a suite heads inputs by name, outputs
        // by "expect name"), so a field fed and read back keeps one name.
        if (!names.insert((h.in ? "input " : "output ") + name).second) fail("two variables would be named " + name);
        std::string var = "kiv_haux" + std::to_string(h.n);
        if (h.in) {
            auto id = id_of_haux.find(h.n);
            if (id == id_of_haux.end()) fail(var + " is an input without a variable ID");
            std::string setter = id->second->setter == "BOOL" ? "boolean" : "plain";
            inputs.push_back({{"id", id->second->id},
                              {"name", name},
                              {"variable", var},
                              {"scope", h.scope},
                              {"feeds", h.unit_var},
                              {"type", h.type},
                              {"setter", setter}});
            if (h.follows) inputs.back()["follows_unit"] = true;
            if (auto e = enumerators_of(h.n); !e.is_null()) inputs.back()["enumerators"] = std::move(e);
            scope_inputs[h.scope].push_back(id->second->id);
        } else {
            outputs.push_back(
                {{"name", name}, {"variable", var}, {"scope", h.scope}, {"from", h.unit_var}, {"type", h.type}});
            if (auto e = enumerators_of(h.n); !e.is_null()) outputs.back()["enumerators"] = std::move(e);
            scope_outputs[h.scope].push_back(name);
        }
    }
    if (inputs.size() != kInputIds.size()) fail("an input variable ID has no harness variable");

    json jscopes = json::array();
    for (const auto& s : kScopes)
        jscopes.push_back({{"uid", s.uid},
                           {"name", s.name},
                           {"step", s.step},
                           {"unit", s.unit},
                           {"init", s.init},
                           {"inputs", scope_inputs[s.uid].is_null() ? json::array() : scope_inputs[s.uid]},
                           {"outputs", scope_outputs[s.uid].is_null() ? json::array() : scope_outputs[s.uid]}});

    std::map<std::string, const Record*> records;
    for (const auto& r : kRecords)
        records[r.name] = &r;
    std::map<int, const Goal*> goals;
    for (const auto& g : kGoals)
        goals[g.n] = &g;
    json jgoals = json::array();
    for (const auto& gid : kGoalIds) {
        auto g = goals.find(gid.n);
        if (g == goals.end()) fail("goal ID " + std::to_string(gid.id) + " names no goal");
        auto r = records.find(g->second->record);
        if (r == records.end()) fail("goal reads unknown record " + g->second->record);
        const Record& rec = *r->second;
        json jg = {{"id", gid.id},
                   {"goal", gid.n},
                   {"criterion", criterion(rec.kind)},
                   {"kind", rec.kind},
                   {"record", rec.name},
                   {"field", g->second->field},
                   {"function", rec.function},
                   {"meaning", meaning(rec, g->second->field)}};
        const auto& p = at.at(rec.name);
        jg["file"] = p.file;
        jg["line"] = p.line;
        jg["column"] = p.column;
        if (rec.kind == "CC") jg["decision"] = p.decision;
        jgoals.push_back(jg);
    }
    if (jgoals.size() != kGoals.size()) fail("a goal has no variable ID");
    std::set<int64_t> constants;
    json jrecords = records_json(at, constants);
    return {{"format", 1},     {"scopes", jscopes},   {"inputs", inputs},      {"outputs", outputs},
            {"goals", jgoals}, {"records", jrecords}, {"constants", constants}};
}

}  // namespace

int main(int argc, char** argv) {
    // The library built from the same tables, when given, is named in the
    // catalog so that kivrun can trust it to list that build's IDs.
    std::string library;
    if (argc > 2 && std::string(argv[1]) == "--library") {
        library = kiv::library_identity(argv[2]);
        if (library.empty()) fail(std::string("cannot read ") + argv[2]);
        argc -= 2, argv += 2;
    }
    if (argc < 3) {
        std::cerr << "usage: catalog_gen [--library LIBRARY.so] OUTPUT.json SITES.json...\n";
        return 2;
    }
    nlohmann::json catalog = build(read_sites(std::vector<std::string>(argv + 2, argv + argc)));
    if (!library.empty()) catalog["library"] = library;
    const std::string text = catalog.dump(1) + "\n";
    const std::string tmp = std::string(argv[1]) + ".tmp";
    std::ofstream out(tmp);
    out << text;
    out.close();
    if (!out || std::rename(tmp.c_str(), argv[1]) != 0) fail(std::string("cannot write ") + argv[1]);
    return 0;
}
