// Goals grouped by the source file and line of their probe calls, shared by
// the lcov, Cobertura and HTML writers so that they count the same lines.
#include "formats/source.h"

#include "catalog/catalog.h"

#include "path_text.h"

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

namespace {
OnLines lines_of(const std::string& criterion) {
    const Criterion* c = criterion_info(criterion);
    return c ? c->lines : OnLines::none;
}
}  // namespace

bool is_branch_criterion(const std::string& c) {
    const OnLines l = lines_of(c);
    return l == OnLines::outcome || l == OnLines::bound;
}

std::string source_path(const std::string& source_root, const std::string& file) {
    namespace fs = std::filesystem;
    return (fs::absolute(source_root) / path_bytes(file)).lexically_normal().string();
}

std::vector<LineHits> line_hits(const Result& result, const FileGoals& file) {
    std::map<int32_t, LineHits> lines;
    std::map<int32_t, bool> outcome_reached;  // of the line's own decision, condition, comparison or case goals
    std::map<int32_t, bool> open;             // a statement goal covering it is neither reached nor justified
    const auto at = [&](int32_t n, const GoalResult& goal) -> LineHits& {
        LineHits& l = lines[n];
        if (!l.line) l.line = n, l.function = goal.function;
        return l;
    };
    for (std::size_t g : file.goals) {
        const GoalResult& goal = result.goals[g];
        if (lines_of(goal.criterion) == OnLines::run) {
            // The lines of its block's run, as kivinst recorded them; an older
            // catalog has only the line of the probe.
            auto ranges = goal.lines;
            if (ranges.empty()) ranges.emplace_back(goal.line, goal.line);
            for (const auto& [first, last] : ranges)
                for (int32_t n = first; n <= last; ++n) {
                    LineHits& l = at(n, goal);
                    l.statement = true;
                    // The most runs of a block covering it: a line runs as often as its block.
                    l.hits = std::max<uint64_t>(l.hits, goal.count ? goal.count : goal.reached() ? 1 : 0);
                    l.justified = l.justified || (!goal.reached() && goal.justification);
                    open[n] = open[n] || (!goal.reached() && !goal.justification);
                }
            continue;
        }
        if (!is_branch_criterion(goal.criterion)) continue;
        LineHits& l = at(goal.line, goal);
        ++l.branches;
        if (goal.reached()) ++l.branches_reached;
        if (lines_of(goal.criterion) == OnLines::outcome)
            outcome_reached[goal.line] = outcome_reached[goal.line] || goal.reached();
    }
    // A line no block's run covers (an older catalog) ran when one of its own
    // outcomes was reached; a bound's (a cast's saturations, a zero divisor)
    // are rare values and say nothing of whether it ran. It never takes
    // another line's hits.
    std::vector<LineHits> out;
    for (auto& [n, l] : lines) {
        if (!l.statement) l.hits = outcome_reached[n] ? 1 : 0;
        l.justified = l.justified && !l.hits && !open[n];
        out.push_back(l);
    }
    return out;
}

}  // namespace kiv
