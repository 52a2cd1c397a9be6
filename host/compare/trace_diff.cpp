// Requirements that got worse between two results: those now untested,
// failing or suspect that were not so before.
#include "compare/diff.h"
#include "trace/status.h"

#include <unordered_map>

namespace kiv {

void compare_requirements(const Result& before, const Result& after, ResultDiff& d) {
    if (!after.trace) return;
    const TraceSummary old_s = summarize_trace(before), new_s = summarize_trace(after);
    std::unordered_map<std::string, ReqStatus> old_status;
    for (const auto& q : old_s.requirements)
        old_status.emplace(q.id, q.status);
    for (const auto& q : new_s.requirements) {
        if (q.status != ReqStatus::untested && q.status != ReqStatus::failing && q.status != ReqStatus::suspect)
            continue;
        const auto it = old_status.find(q.id);
        if (it != old_status.end() && it->second == q.status) continue;
        d.requirements_worse.push_back(
            {q.id, it == old_status.end() ? "absent" : req_status_name(it->second), req_status_name(q.status)});
    }
}

}  // namespace kiv
