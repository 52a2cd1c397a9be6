// Goal proposal. Every field a probe can raise gets a goal, except in the
// functions the caller names (initialisation and termination code that no
// test step runs for its own sake). Goals are numbered unit by unit, kind by
// kind in a fixed order, records in descending number within a kind: the
// order the library's fixed goal table was laid out in.
#include "goals.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace kivinst {
namespace {

struct Row {
    std::string kind, name, function;
    long number = 0;
};

struct Kind {
    const char* name;
    std::vector<const char*> fields;
    const char* rule;
};

// The order of kinds and of fields within a record.
const std::vector<Kind>& kinds() {
    static const std::vector<Kind> k = {
        {"STM", {"hitCount"}, "COUNT"},
        {"DC", {"falseSeen", "trueSeen"}, "FLAG"},
        {"CC", {"falseSeen", "trueSeen"}, "FLAG"},
        {"RELOP", {"falseSeen", "trueSeen", "oneBelow", "equal", "oneAbove"}, "FLAG"},
        {"CAST", {"belowMin", "aboveMax"}, "FLAG"},
        {"DBZ", {"zeroSeen"}, "FLAG"},
        {"FC", {"reached"}, "FLAG"},
        {"ICF", {"reached"}, "FLAG"},
        {"DCF", {"reached"}, "FLAG"},
        {"SC", {"reached"}, "FLAG"},
    };
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

}  // namespace

std::string propose_goals(const GoalOptions& options) {
    std::ostringstream out, left;
    out << "// Goal table proposed by kivinst.\n"
        << "// KIV_GOAL(goal number, record, field, rule)\n"
        << "#ifndef KIV_GOAL\n#error \"define KIV_GOAL(n, record, field, rule) before including this file\"\n#endif\n\n";
    int goal = options.first;
    for (const std::string& table : options.tables) {
        const std::vector<Row> rows = read_table(table);
        for (const Kind& kind : kinds()) {
            std::vector<Row> of_kind;
            for (const Row& r : rows)
                if (r.kind == kind.name) of_kind.push_back(r);
            std::stable_sort(of_kind.begin(), of_kind.end(), [](const Row& a, const Row& b) { return a.number > b.number; });
            for (const Row& r : of_kind) {
                if (options.skipped_functions.count(r.function)) {
                    left << "//   " << r.name << " (" << r.function << ")\n";
                    continue;
                }
                for (const char* field : kind.fields)
                    out << "KIV_GOAL(" << goal++ << ", " << r.name << ", " << field << ", " << kind.rule << ")\n";
            }
        }
    }
    out << "\n#undef KIV_GOAL\n";
    const std::string skipped = left.str();
    if (!skipped.empty()) out << "\n// Records left without a goal on purpose (their function was skipped):\n" << skipped;
    return out.str();
}

}  // namespace kivinst
