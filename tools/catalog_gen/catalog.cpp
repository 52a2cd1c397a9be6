// catalog: a unit's tables and sites files as the JSON catalog kivrun reads
// beside the .so.
#include "catalog.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <set>

namespace kiv::catalog {

namespace {

[[noreturn]] void fail(const std::string& why) {
    throw Error(1, "catalog_gen: " + why);
}

[[noreturn]] void bad_input(const std::string& where, const std::string& why) {
    throw Error(2, "catalog_gen: " + where + ": " + why);
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

// Length of the well-formed UTF-8 sequence at s[i], 0 when there is none.
std::size_t utf8_length(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return 1;
    const std::size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    if ((c == 0xE0 && byte(i + 1) < 0xA0) || (c == 0xED && byte(i + 1) > 0x9F) || (c == 0xF0 && byte(i + 1) < 0x90) ||
        (c == 0xF4 && byte(i + 1) > 0x8F))
        return 0;
    return n;
}

// A call site's text, which a source in another encoding may hold bytes of
// that are not UTF-8 (a Latin-1 character literal): those are written as \xNN,
// as the source would spell them, since JSON holds only UTF-8.
std::string as_utf8(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (const std::size_t n = utf8_length(s, i)) {
            out.append(s, i, n);
            i += n;
        } else {
            static const char hex[] = "0123456789ABCDEF";
            const unsigned char c = static_cast<unsigned char>(s[i++]);
            out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
        }
    }
    return out;
}

// One line that says what reaching the goal means, from the call site's text.
std::string meaning(const Record& r, const std::string& field) {
    for (const KindGoal& g : probe_kind(r.kind).goals)
        if (g.field == field) return (g.of_function ? r.function : r.function + ": " + as_utf8(r.text)) + g.meaning;
    fail("unknown record field " + field);
}

// Each enum-typed kiv_haux<n>'s enumerators as the catalog lists them,
// grouped once so that a unit of many variables is not searched per variable.
std::map<int, nlohmann::json> enumerators_by_variable(const Tables& t) {
    std::map<int, nlohmann::json> out;
    for (const Enumerator& e : t.enumerators) out[e.n].push_back({{"name", e.name}, {"value", e.value}});
    return out;
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

// Each record's one site in the sites files: a record of the tables with no
// site or with two, a site of an unknown record, or one whose kind is not the
// record's, is an error, so the positions can be trusted to be the record's own.
Positions read_sites(const std::vector<Record>& records, const std::vector<SitesFile>& files) {
    std::map<std::string, const Record*> known;
    for (const auto& r : records) known[r.name] = &r;
    std::map<std::string, std::vector<std::string>> seen;  // record -> the files that place it
    Positions at;
    for (const auto& [path, text] : files) {
        try {
            const nlohmann::json doc = nlohmann::json::parse(text);
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
    for (const auto& r : records) {
        auto s = seen.find(r.name);
        if (s == seen.end()) bad_input(r.name, "probe record with no site in the sites files");
        if (s->second.size() > 1) {
            std::string where;
            for (const auto& w : s->second) where += "\n  " + w;
            bad_input(r.name, "probe record with " + std::to_string(s->second.size()) + " sites:" + where);
        }
    }
    return at;
}

// The "records" table: where each probe record is written, and for decisions
// the formula over their conditions.
nlohmann::json records_json(const std::vector<Record>& records, const Positions& at, std::set<int64_t>& constants) {
    using nlohmann::json;
    json out = json::array();
    for (const auto& r : records) {
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

nlohmann::json build(const Tables& t, const Positions& at) {
    using nlohmann::json;
    std::map<int, const Scope*> scopes;
    for (const auto& s : t.scopes) scopes[s.uid] = &s;
    std::map<int, const InputId*> id_of_variable;
    for (const auto& i : t.input_ids) id_of_variable[i.n] = &i;

    std::set<std::string> names;
    json inputs = json::array(), outputs = json::array();
    std::map<int, json> scope_inputs, scope_outputs;
    const std::map<int, nlohmann::json> enumerators = enumerators_by_variable(t);
    for (const auto& h : t.variables) {
        const auto e = enumerators.find(h.n);
        auto sc = scopes.find(h.scope);
        if (sc == scopes.end()) fail("harness variable in unknown scope " + std::to_string(h.scope));
        std::string name = sc->second->name + "." + h.name;
        // Inputs and outputs are apart (a suite heads inputs by name, outputs
        // by "expect name"), so a field fed and read back keeps one name.
        if (!names.insert((h.in ? "input " : "output ") + name).second) fail("two variables would be named " + name);
        std::string var = "kiv_haux" + std::to_string(h.n);
        if (h.in) {
            auto id = id_of_variable.find(h.n);
            if (id == id_of_variable.end()) fail(var + " is an input without a variable ID");
            std::string setter = id->second->setter == "BOOL" ? "boolean" : "plain";
            inputs.push_back({{"id", id->second->id},
                              {"name", name},
                              {"variable", var},
                              {"scope", h.scope},
                              {"feeds", h.unit_variable},
                              {"type", h.type},
                              {"setter", setter}});
            if (h.follows) inputs.back()["follows_unit"] = true;
            if (e != enumerators.end()) inputs.back()["enumerators"] = e->second;
            scope_inputs[h.scope].push_back(id->second->id);
        } else {
            outputs.push_back(
                {{"name", name}, {"variable", var}, {"scope", h.scope}, {"from", h.unit_variable}, {"type", h.type}});
            if (e != enumerators.end()) outputs.back()["enumerators"] = e->second;
            scope_outputs[h.scope].push_back(name);
        }
    }
    if (inputs.size() != t.input_ids.size()) fail("an input variable ID has no harness variable");

    json jscopes = json::array();
    for (const auto& s : t.scopes)
        jscopes.push_back({{"uid", s.uid},
                           {"name", s.name},
                           {"step", s.step},
                           {"unit", s.unit},
                           {"init", s.init},
                           {"inputs", scope_inputs[s.uid].is_null() ? json::array() : scope_inputs[s.uid]},
                           {"outputs", scope_outputs[s.uid].is_null() ? json::array() : scope_outputs[s.uid]}});

    std::map<std::string, const Record*> records;
    for (const auto& r : t.records) records[r.name] = &r;
    std::map<int, const Goal*> goals;
    for (const auto& g : t.goals) goals[g.n] = &g;
    json jgoals = json::array();
    for (const auto& gid : t.goal_ids) {
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
    if (jgoals.size() != t.goals.size()) fail("a goal has no variable ID");
    std::set<int64_t> constants;
    json jrecords = records_json(t.records, at, constants);
    return {{"format", 1},     {"scopes", jscopes},   {"inputs", inputs},      {"outputs", outputs},
            {"goals", jgoals}, {"records", jrecords}, {"constants", constants}};
}

}  // namespace

std::string write(const Tables& tables, const std::vector<SitesFile>& sites, const std::string& library) {
    nlohmann::json catalog = build(tables, read_sites(tables.records, sites));
    if (!library.empty()) catalog["library"] = library;
    try {
        return catalog.dump(1) + "\n";
    } catch (const nlohmann::json::exception& e) {
        fail(std::string("the catalog cannot be written as JSON: ") + e.what());
    }
}

std::string stamp(const std::string& catalog, const std::string& library) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(catalog);
    } catch (const nlohmann::json::exception& e) {
        bad_input("the catalog", std::string("not JSON: ") + e.what());
    }
    if (!doc.is_object() || !doc.contains("format")) bad_input("the catalog", "no catalog (no format)");
    doc["library"] = library;
    return doc.dump(1) + "\n";
}

}  // namespace kiv::catalog
