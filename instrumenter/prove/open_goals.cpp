// Writes the goals a proof leaves open.
#include "open_goals.h"

#include <algorithm>
#include <sstream>

namespace kivinst::prove {
namespace {

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}  // namespace

std::string open_goals_csv(const std::vector<OpenGoal>& goals) {
    std::ostringstream out;
    out << "# Goals kivinst did not prove unreachable: why, and how many steps from the load state\n"
        << "# are known not to reach each (not_within; 0: none). A case may reach them.\n"
        << "goal,record,flag,not_within,why\n";
    for (const OpenGoal& g : goals)
        out << "KIV_G" << g.goal << "," << g.record << "," << g.flag << "," << g.not_within << "," << quoted(g.why) << "\n";
    return out.str();
}

std::string open_goals_summary(const std::vector<OpenGoal>& goals, std::size_t proven) {
    std::size_t bounded = 0;
    unsigned lo = 0, hi = 0;
    for (const OpenGoal& g : goals)
        if (g.not_within > 0) {
            lo = bounded++ ? std::min(lo, g.not_within) : g.not_within;
            hi = std::max(hi, g.not_within);
        }
    std::ostringstream out;
    out << proven << " goal" << (proven == 1 ? "" : "s") << " proven unreachable, " << goals.size() << " not proven";
    if (bounded)
        out << " (" << bounded << " of them not within the first "
            << (lo == hi ? std::to_string(lo) : std::to_string(lo) + " to " + std::to_string(hi)) << " steps)";
    return out.str();
}

}  // namespace kivinst::prove
