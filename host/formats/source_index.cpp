// Goals grouped by the source file and line of their probe calls, shared by
// the lcov, Cobertura and HTML writers so that they count the same lines.
#include "formats/source.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

namespace kiv {

bool has_source_positions(const Result& result) {
    if (result.goals.empty()) return false;
    return std::all_of(result.goals.begin(), result.goals.end(),
                       [](const GoalResult& g) { return !g.file.empty() && g.line > 0; });
}

std::vector<FileGoals> goals_by_file(const Result& result) {
    std::map<std::string, std::vector<std::size_t>> by_file;
    for (std::size_t i = 0; i < result.goals.size(); ++i)
        if (!result.goals[i].file.empty()) by_file[result.goals[i].file].push_back(i);
    std::vector<FileGoals> out;
    for (auto& [file, goals] : by_file) {
        std::stable_sort(goals.begin(), goals.end(), [&](std::size_t a, std::size_t b) {
            const auto &x = result.goals[a], &y = result.goals[b];
            return std::tie(x.line, x.column) < std::tie(y.line, y.column);
        });
        out.push_back({file, goals});
    }
    return out;
}

bool is_branch_criterion(const std::string& c) {
    return c == "decision" || c == "condition" || c == "switch case" || c == "relational" || c == "cast";
}

std::string source_path(const std::string& source_root, const std::string& file) {
    namespace fs = std::filesystem;
    return (fs::absolute(source_root) / file).lexically_normal().string();
}

std::vector<LineHits> line_hits(const Result& result, const FileGoals& file) {
    struct Seen {  // a probe that reaches one of its outcomes whenever it runs, and whether one was
        bool outcome = false, reached = false;
    };
    std::map<int32_t, LineHits> lines;
    std::map<int32_t, Seen> seen;
    for (std::size_t g : file.goals) {
        const GoalResult& goal = result.goals[g];
        const bool statement = goal.criterion == "statement";
        if (!statement && !is_branch_criterion(goal.criterion)) continue;
        LineHits& l = lines[goal.line];
        Seen& k = seen[goal.line];
        l.line = goal.line;
        l.function = goal.function;
        if (statement) {
            l.hits = (l.statement && l.hits) || goal.reached() ? 1 : 0;
            l.statement = true;
            continue;
        }
        ++l.branches;
        if (goal.reached()) ++l.branches_reached;
        if (goal.criterion != "cast") {
            k.outcome = true;
            k.reached = k.reached || goal.reached();
        }
    }
    // A line ran when one of its statement goals or one of its decisions',
    // conditions', comparisons' or case labels' outcomes was reached: a block's
    // statement stands at its brace, on the line of the `if` that guards it,
    // and the `if` runs whether or not its block does. The block before a case
    // label, or before an `if` that follows a nested block, says nothing of
    // the line. A cast alone, whose outcomes are its rare saturations, runs
    // with the statement of the block it stands in (the nearest above in its
    // function).
    std::map<std::string, int> block;  // per function: whether the last block's statement was reached
    for (auto& [n, l] : lines) {
        const Seen& k = seen[n];
        if (l.statement) block[l.function] = l.hits;
        if (l.statement || k.outcome)
            l.hits = l.hits || k.reached ? 1 : 0;
        else
            l.hits = block.count(l.function) ? block[l.function] : l.branches_reached > 0 ? 1 : 0;
    }
    std::vector<LineHits> out;
    for (auto& [n, l] : lines)
        out.push_back(l);
    return out;
}

}  // namespace kiv
