// catalog_gen: expands the library's own tables into the JSON catalog that
// kivrun reads beside the .so (what each variable ID, scope and goal means).
#include "catalog_gen_scan.h"
#include "identity.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <iostream>
#include <map>
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
    std::string unit_var;
};
struct Scope {
    int uid;
    std::string step, unit, init;
};

const std::vector<Record> kRecords = {
#define IXA_RECORD(kind, record, function, text) {#kind, #record, #function, text},
#include "unit/Wrapper_seat_heating_control_records.def"
#define IXA_RECORD(kind, record, function, text) {#kind, #record, #function, text},
#include "unit/seat_heating_control_records.def"
};

const std::vector<Scope> kScopes = {
#define KIV_SCOPE(uid, step, unit, init) {uid, #step, #unit, #init},
#include "frame/scopes.def"
};

const std::vector<Haux> kHaux = {
#define KIV_HAUX(n, scope, direction, unit_variable) {n, scope, std::string(#direction) == "IN", #unit_variable},
#include "frame/harness_variables.def"
};

struct InputId {
    int id, n;
    std::string setter;
};
struct GoalId {
    int id, n;
};
const std::vector<InputId> kInputIds = {
#define KIV_INPUT_ID(id, n, setter) {id, n, #setter},
#include "harness/harness_ids.def"
};
const std::vector<GoalId> kGoalIds = {
#define KIV_GOAL_ID(id, n) {id, n},
#include "harness/harness_ids.def"
};

struct Goal {
    int n;
    std::string record, field, rule;
};
const std::vector<Goal> kGoals = {
#define KIV_GOAL(n, record, field, rule) {n, #record, #field, #rule},
#include "instrumentation/goals.def"
};

[[noreturn]] void fail(const std::string& why) {
    std::cerr << "catalog_gen: " << why << "\n";
    std::exit(1);
}

// A scope's short name: its unit function without a model's "_step" suffix.
std::string scope_name(const Scope& s) {
    const std::string suffix = "_step";
    std::string u = s.unit;
    if (u.size() > suffix.size() && u.compare(u.size() - suffix.size(), suffix.size(), suffix) == 0)
        u.resize(u.size() - suffix.size());
    return u;
}

bool starts(const std::string& s, const std::string& p) {
    return s.rfind(p, 0) == 0;
}

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = s.find('_', from)) != std::string::npos; from = at + 1)
        parts.push_back(s.substr(from, at - from));
    parts.push_back(s.substr(from));
    return parts;
}

// The port element a unit variable carries, by the naming patterns of the RTE
// stub: Rte_Prm_<port>_<element>_data, RteStub_IF_<port>_<port>_<element>[_err],
// RteStub_<variable>, dsin_/dsout_<port>_<operation>_<argument>; an array
// index stays as a suffix.
std::string port_element(std::string var) {
    std::string index;
    if (auto b = var.find('['); b != std::string::npos) {
        index = var.substr(b);
        var.resize(b);
    }
    std::string element;
    if (starts(var, "Rte_Prm_") && var.size() > 13 && var.ends_with("_data")) {
        auto parts = split(var.substr(8, var.size() - 13));
        element = parts.back();
    } else if (starts(var, "RteStub_IF_")) {
        auto parts = split(var.substr(11));
        if (parts.size() < 3) fail("unexpected port variable " + var);
        element = parts[2];
        for (std::size_t i = 3; i < parts.size(); ++i)
            element += "_" + parts[i];
    } else if (starts(var, "RteStub_")) {
        element = var.substr(8);
    } else if (starts(var, "dsin_") || starts(var, "dsout_")) {
        auto parts = split(var.substr(var.find('_') + 1));
        if (parts.size() < 3) fail("unexpected mock variable " + var);
        element = parts[parts.size() - 2] + "_" + parts.back();
    } else {
        fail("no naming rule for unit variable " + var);
    }
    return element + index;
}

const char* criterion(const std::string& kind) {
    static const std::map<std::string, const char*> names = {
        {"STM", "statement"}, {"DC", "decision"}, {"CC", "condition"}, {"RELOP", "relational"},
        {"CAST", "cast"},     {"FC", "function"}, {"DCF", "call"},     {"SC", "switch case"}};
    auto it = names.find(kind);
    if (it == names.end()) fail("unknown record kind " + kind);
    return it->second;
}

// One line that says what reaching the goal means, from the call site's text.
std::string meaning(const Record& r, const std::string& field) {
    const std::string site = r.function + ": " + r.text;
    if (field == "hitCount") return site + " ran";
    if (field == "falseSeen") return site + " was false";
    if (field == "trueSeen") return site + " was true";
    if (field == "oneBelow") return site + ", left side one below the right";
    if (field == "equal") return site + ", left side equal to the right";
    if (field == "oneAbove") return site + ", left side one above the right";
    if (field == "belowMin") return site + ", value below the target's minimum";
    if (field == "aboveMax") return site + ", value above the target's maximum";
    if (field == "reached") {
        if (r.kind == "FC") return r.function + " entered";
        if (r.kind == "SC") return site + " entered";
        return site + " reached";
    }
    fail("unknown record field " + field);
}

using Positions = std::map<std::string, kiv::gen::ProbeCall>;

// Each record's one probe call in the unit sources (paths relative to `root`):
// a record used by no call or by two is an error, as is a call of an unknown
// record, so the positions can be trusted to be the record's own.
Positions scan_sources(const std::string& root, const std::vector<std::string>& sources) {
    namespace fs = std::filesystem;
    std::map<std::string, std::vector<kiv::gen::ProbeCall>> uses;
    for (const auto& src : sources) {
        std::ifstream in(src);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) fail("cannot read unit source " + src);
        const std::string rel =
            fs::weakly_canonical(src).lexically_relative(fs::weakly_canonical(root)).generic_string();
        try {
            for (auto& call : kiv::gen::scan_probe_calls(text.str(), rel))
                uses[call.record].push_back(call);
        } catch (const std::exception& e) {
            fail(e.what());
        }
    }
    std::map<std::string, const Record*> known;
    for (const auto& r : kRecords)
        known[r.name] = &r;
    for (const auto& [name, calls] : uses) {
        const auto& c = calls.front();
        const std::string where = c.file + ":" + std::to_string(c.line) + ":" + std::to_string(c.column);
        auto r = known.find(name);
        if (r == known.end()) fail(where + ": probe call of " + name + ", which is in no records table");
        if (r->second->kind != c.kind)
            fail(where + ": " + c.macro + " writes a " + c.kind + " record, but " + name + " is " + r->second->kind);
    }
    Positions at;
    for (const auto& r : kRecords) {
        auto u = uses.find(r.name);
        if (u == uses.end()) fail("probe record " + r.name + " is used in no probe call of the unit sources");
        if (u->second.size() > 1) {
            std::string where;
            for (const auto& c : u->second)
                where += " " + c.file + ":" + std::to_string(c.line) + ":" + std::to_string(c.column);
            fail("probe record " + r.name + " is used in " + std::to_string(u->second.size()) +
                 " probe calls:" + where);
        }
        at[r.name] = u->second.front();
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
        if (r.name.rfind("TU", 0) == 0) j["unit"] = std::atoi(r.name.c_str() + 2);
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
        std::string name = scope_name(*sc->second) + "." + port_element(h.unit_var);
        if (!names.insert(name).second) fail("two variables would be named " + name);
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
                              {"setter", setter}});
            scope_inputs[h.scope].push_back(id->second->id);
        } else {
            outputs.push_back({{"name", name}, {"variable", var}, {"scope", h.scope}, {"from", h.unit_var}});
            scope_outputs[h.scope].push_back(name);
        }
    }
    if (inputs.size() != kInputIds.size()) fail("an input variable ID has no harness variable");

    json jscopes = json::array();
    for (const auto& s : kScopes)
        jscopes.push_back({{"uid", s.uid},
                           {"name", scope_name(s)},
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
    if (argc < 4) {
        std::cerr << "usage: catalog_gen [--library LIBRARY.so] OUTPUT.json REPOSITORY_ROOT UNIT_SOURCE...\n";
        return 2;
    }
    nlohmann::json catalog = build(scan_sources(argv[2], std::vector<std::string>(argv + 3, argv + argc)));
    if (!library.empty()) catalog["library"] = library;
    const std::string text = catalog.dump(1) + "\n";
    const std::string tmp = std::string(argv[1]) + ".tmp";
    std::ofstream out(tmp);
    out << text;
    out.close();
    if (!out || std::rename(tmp.c_str(), argv[1]) != 0) fail(std::string("cannot write ") + argv[1]);
    return 0;
}
