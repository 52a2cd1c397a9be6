// The lcov tracefile: function goals as FN/FNDA, statement goals as DA lines,
// and the outcomes of every decision, condition, comparison, switch case and
// cast probe as one BRDA block per probe record. A goal counts once, hit or
// not: the result keeps whether it was reached, not how often.
#include "formats/source.h"

#include <map>
#include <set>

namespace kiv {

namespace {

void write_file(const Result& result, const FileGoals& file, std::ostream& out, const std::string& source_root) {
    out << "TN:kivrun\nSF:" << source_path(source_root, file.file) << "\n";
    std::size_t found = 0, hit = 0;
    std::set<std::string> named;
    for (std::size_t g : file.goals) {
        const GoalResult& goal = result.goals[g];
        if (goal.criterion != "function" || !named.insert(goal.function).second) continue;
        out << "FN:" << goal.line << "," << goal.function << "\n";
    }
    for (std::size_t g : file.goals) {
        const GoalResult& goal = result.goals[g];
        if (goal.criterion != "function") continue;
        out << "FNDA:" << (goal.reached() ? 1 : 0) << "," << goal.function << "\n";
        ++found;
        if (goal.reached()) ++hit;
    }
    out << "FNF:" << found << "\nFNH:" << hit << "\n";

    // Blocks are numbered per file in source order; branches in goal order.
    std::map<std::string, std::size_t> block_of;
    std::map<std::string, std::size_t> next_branch;
    found = hit = 0;
    for (std::size_t g : file.goals) {
        const GoalResult& goal = result.goals[g];
        if (!is_branch_criterion(goal.criterion)) continue;
        const std::size_t block = block_of.emplace(goal.record, block_of.size()).first->second;
        out << "BRDA:" << goal.line << "," << block << "," << next_branch[goal.record]++ << ","
            << (goal.reached() ? 1 : 0) << "\n";
        ++found;
        if (goal.reached()) ++hit;
    }
    out << "BRF:" << found << "\nBRH:" << hit << "\n";

    found = hit = 0;
    for (const LineHits& l : line_hits(result, file)) {
        if (!l.statement) continue;
        out << "DA:" << l.line << "," << l.hits << "\n";
        ++found;
        if (l.hits) ++hit;
    }
    out << "LF:" << found << "\nLH:" << hit << "\nend_of_record\n";
}

}  // namespace

void write_lcov(const Result& result, std::ostream& out, const std::string& source_root) {
    for (const FileGoals& file : goals_by_file(result))
        write_file(result, file, out, source_root);
}

}  // namespace kiv
