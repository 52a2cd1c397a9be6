// catalog_gen: expands a unit's tables into the JSON catalog that kivrun reads
// beside the .so (what each variable ID, scope and goal means). Built against
// the unit's root (-I ROOT), so one source serves every harness.
#include "catalog_gen_scan.h"
#include "load/identity.h"

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
    std::string type, unit_var, name;
};
struct Scope {
    int uid;
    std::string name, step, unit, init;
};

const std::vector<Record> kRecords = {
#define IXA_RECORD(kind, record, function, text) {#kind, #record, #function, text},
#include "unit/records.def"
};

const std::vector<Scope> kScopes = {
#define KIV_SCOPE(uid, name, step, unit, init) {uid, name, #step, #unit, #init},
#include "unit/scopes.def"
};

const std::vector<Haux> kHaux = {
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) \
    {n, scope, std::string(#direction) == "IN", #type, #unit_variable, name},
#include "unit/harness_variables.def"
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
#include "unit/harness_ids.def"
};
const std::vector<GoalId> kGoalIds = {
#define KIV_GOAL_ID(id, n) {id, n},
#include "unit/harness_ids.def"
};

struct Goal {
    int n;
    std::string record, field, rule;
};
const std::vector<Goal> kGoals = {
#define KIV_GOAL(n, record, field, rule) {n, #record, #field, #rule},
#include "unit/goals.def"
};

[[noreturn]] void fail(const std::string& why) {
    std::cerr << "catalog_gen: " << why << "\n";
    std::exit(1);
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
        std::string name = sc->second->name + "." + h.name;
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
                              {"type", h.type},
                              {"setter", setter}});
            scope_inputs[h.scope].push_back(id->second->id);
        } else {
            outputs.push_back(
                {{"name", name}, {"variable", var}, {"scope", h.scope}, {"from", h.unit_var}, {"type", h.type}});
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
