// Goal proposal. Every field a probe can raise gets a goal, except in the
// functions the caller names (initialisation and termination code that no
// test step runs for its own sake) and in the records of a kind the probe
// kinds' table proposes no goals for. Goals are numbered unit by unit, kind by
// kind in the table's order, records in descending number within a kind: the
// order the library's fixed goal table was laid out in.
#include "goals.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

namespace kivinst {
namespace {

struct Row {
    std::string kind, name, function;
    long number = 0;
};

struct Kind {
    const char* name;
    std::vector<const char*> fields;  // the goals' fields, in goal order
    std::vector<const char*> rules;   // each one's rule
    bool proposed;                    // its records get goals
};

// The kinds in goal order, from the one table of probe kinds.
const std::vector<Kind>& kinds() {
#define IXA_GOAL(field, rule, subject, meaning, outcome) {#field, #rule},
#define IXA_PROBE_KIND(kind, criterion, lines, proposed, name, sequence, fields, goals) \
    make(#kind, {goals}, std::string(#proposed) == "YES"),
    static const auto make = [](const char* name, std::vector<std::pair<const char*, const char*>> goals, bool proposed) {
        Kind k{name, {}, {}, proposed};
        for (const auto& [field, rule] : goals) k.fields.push_back(field), k.rules.push_back(rule);
        return k;
    };
    static const std::vector<Kind> k = {
#include "instrumentation/probe_kinds.def"
    };
#undef IXA_GOAL
    return k;
}

std::vector<Row> read_table(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw TableError(path + ": cannot be read");
    static const std::regex row(R"re(^\s*IXA_RECORD\(\s*(\w+)\s*,\s*(\w+)\s*,\s*(\w+)\s*,\s*"([^"]*)"\s*\)\s*$)re");
    static const std::regex number(R"((\d+)$)");
    std::vector<Row> rows;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (line.rfind("IXA_RECORD", 0) != 0) continue;  // comments, guards, blank lines
        std::smatch m;
        if (!std::regex_match(line, m, row))
            throw TableError(path + ":" + std::to_string(n) + ": not a row IXA_RECORD(kind, record, function, \"text\")");
        Row r{m[1], m[2], m[3]};
        const auto k = std::find_if(kinds().begin(), kinds().end(), [&](const Kind& x) { return r.kind == x.name; });
        std::smatch d;
        if (k == kinds().end())
            throw TableError(path + ":" + std::to_string(n) + ": unknown record kind '" + r.kind + "'");
        if (!std::regex_search(r.name, d, number))
            throw TableError(path + ":" + std::to_string(n) + ": record name '" + r.name + "' does not end in its number");
        r.number = std::stol(d[1]);
        rows.push_back(r);
    }
    return rows;
}

// The sites file kivinst wrote beside a table: per CAST record, the flags no
// value can raise and why. None when the file is not there.
std::map<std::string, std::map<std::string, std::string>> unreachable_flags(const std::string& table) {
    std::string sites = table;
    const std::string suffix = "_records.def";
    if (sites.size() < suffix.size() || sites.compare(sites.size() - suffix.size(), suffix.size(), suffix) != 0) return {};
    sites.replace(sites.size() - suffix.size(), suffix.size(), "_sites.json");
    std::ifstream in(sites);
    if (!in) return {};
    std::map<std::string, std::map<std::string, std::string>> out;
    try {
        const nlohmann::json j = nlohmann::json::parse(in);
        for (const auto& site : j.at("sites"))
            if (site.contains("unreachable"))
                out[site.at("record").get<std::string>()] = site.at("unreachable").get<std::map<std::string, std::string>>();
    } catch (const nlohmann::json::exception& e) {
        throw TableError(sites + ": not a sites file kivinst wrote: " + e.what());
    }
    return out;
}

std::string csv_quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}  // namespace

std::string proven_justification(const std::vector<ProvenGoal>& goals) {
    std::ostringstream out;
    out << "# Goals no input can reach, each with its proof; written by kivinst for kivrun --justify.\n"
        << "goal,reason,method,proof,tool\n";
    for (const ProvenGoal& g : goals)
        out << "KIV_G" << g.goal << "," << csv_quoted(g.record + " " + g.field + ": " + g.reason) << ","
            << csv_quoted(g.method) << "," << csv_quoted(g.proof) << "," << csv_quoted(std::string("kivinst ") + KIVINST_VERSION)
            << "\n";
    return out.str();
}

Proposal propose_goals(const GoalOptions& options) {
    namespace fs = std::filesystem;
    // Everything is checked before anything is proposed.
    std::vector<std::vector<Row>> tables;
    std::map<std::string, std::string> table_of_path, table_of_unit, table_of_record;
    std::set<std::string> functions;
    static const std::regex unit_prefix(R"(^TU(\d+))");
    for (const std::string& table : options.tables) {
        std::error_code ec;
        const std::string key = fs::weakly_canonical(table, ec).string();
        if (!table_of_path.emplace(key, table).second)
            throw TableError(table + ": given twice (also as " + table_of_path[key] + ")");
        tables.push_back(read_table(table));
        for (std::size_t t = 0; t + 1 < tables.size(); ++t)
            if (!tables.back().empty() &&
                std::equal(tables[t].begin(), tables[t].end(), tables.back().begin(), tables.back().end(),
                           [](const Row& x, const Row& y) { return x.name == y.name && x.kind == y.kind; }))
                throw TableError(table + ": the same records as " + options.tables[t] + " (one table given twice)");
        std::set<std::string> units;
        for (const Row& r : tables.back()) {
            std::smatch m;
            if (std::regex_search(r.name, m, unit_prefix)) units.insert(m[1]);
        }
        for (const std::string& u : units) {
            const auto [at, fresh] = table_of_unit.emplace(u, table);
            if (!fresh) throw TableError(table + ": unit " + u + " (-u " + u + ") is also the unit of " + at->second);
        }
        for (const Row& r : tables.back()) {
            functions.insert(r.function);
            const auto [at, fresh] = table_of_record.emplace(r.name, table);
            if (!fresh && at->second != table)
                throw TableError(table + ": record " + r.name + " is also in " + at->second);
        }
    }
    for (const std::string& f : options.skipped_functions)
        if (!functions.count(f)) throw TableError("--skip-function " + f + ": no record of the tables is in a function of that name");

    Proposal p;
    std::ostringstream out, left, unproposed;
    std::vector<ProvenGoal> proven;
    out << "// Goal table proposed by kivinst.\n"
        << "// KIV_GOAL(goal number, record, field, rule)\n"
        << "#ifndef KIV_GOAL\n#error \"define KIV_GOAL(n, record, field, rule) before including this file\"\n#endif\n\n";
    int goal = options.first;
    for (std::size_t t = 0; t < options.tables.size(); ++t) {
        const std::string& table = options.tables[t];
        const std::vector<Row>& rows = tables[t];
        const auto unreachable = unreachable_flags(table);
        for (const Kind& kind : kinds()) {
            std::vector<Row> of_kind;
            for (const Row& r : rows)
                if (r.kind == kind.name) of_kind.push_back(r);
            std::stable_sort(of_kind.begin(), of_kind.end(), [](const Row& a, const Row& b) { return a.number > b.number; });
            for (const Row& r : of_kind) {
                if (!kind.proposed) {
                    unproposed << "//   " << r.name << " (" << kind.name << ")\n";
                    p.unproposed.push_back(r.name);
                    continue;
                }
                if (options.skipped_functions.count(r.function)) {
                    left << "//   " << r.name << " (" << r.function << ")\n";
                    continue;
                }
                const auto flags = unreachable.find(r.name);
                for (std::size_t f = 0; f < kind.fields.size(); ++f) {
                    const char* field = kind.fields[f];
                    if (flags != unreachable.end() && flags->second.count(field))
                        proven.push_back({goal, r.name, field, flags->second.at(field), kRangeMethod, kRangeProof});
                    out << "KIV_GOAL(" << goal++ << ", " << r.name << ", " << field << ", " << kind.rules[f] << ")\n";
                }
            }
        }
    }
    out << "\n#undef KIV_GOAL\n";
    const std::string skipped = left.str();
    if (!skipped.empty()) out << "\n// Records left without a goal on purpose (their function was skipped):\n" << skipped;
    if (!p.unproposed.empty()) out << "\n// Records of a kind that gets no goal:\n" << unproposed.str();
    p.table = out.str();
    if (!proven.empty()) p.justification = proven_justification(proven);
    return p;
}

}  // namespace kivinst
