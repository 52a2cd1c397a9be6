// Merging the traceability of results: each case keeps its links and goals,
// and the results must share one requirement set and its acceptances.
#include "compare/merge.h"

#include "error.h"

namespace kiv {

namespace {

bool same_set(const TraceSection& a, const TraceSection& b) {
    if (a.requirements.size() != b.requirements.size() || a.accepted.size() != b.accepted.size()) return false;
    for (std::size_t k = 0; k < a.requirements.size(); ++k)
        if (a.requirements[k].id != b.requirements[k].id ||
            a.requirements[k].text_sha256 != b.requirements[k].text_sha256 ||
            a.requirements[k].revision != b.requirements[k].revision)
            return false;
    for (std::size_t k = 0; k < a.accepted.size(); ++k)
        if (a.accepted[k].id != b.accepted[k].id || a.accepted[k].text_sha256 != b.accepted[k].text_sha256)
            return false;
    return true;
}

}  // namespace

void merge_trace(const std::vector<NamedResult>& in, const std::vector<std::vector<int64_t>>& moved_to, Result& out) {
    const NamedResult* judged = nullptr;
    for (const NamedResult& r : in) {
        if (!r.result.trace) continue;
        if (!out.trace) {
            out.trace.emplace();
            out.trace->links.resize(out.cases.size());
            out.trace->case_goals.resize(out.cases.size());
        }
        const TraceSection& t = *r.result.trace;
        if (t.have_requirements) {
            if (judged && !same_set(*judged->result.trace, t))
                throw Error(judged->path + " and " + r.path +
                            " were judged against different requirement sets or acceptances; nothing was merged");
            if (!judged) {
                judged = &r;
                out.trace->have_requirements = true;
                out.trace->requirements = t.requirements;
                out.trace->accepted = t.accepted;
            }
        }
    }
    if (!out.trace) return;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (!in[i].result.trace) continue;
        const TraceSection& t = *in[i].result.trace;
        for (std::size_t c = 0; c < moved_to[i].size(); ++c) {
            const auto at = static_cast<std::size_t>(moved_to[i][c]);
            if (c < t.links.size()) out.trace->links[at] = t.links[c];
            if (c < t.case_goals.size()) out.trace->case_goals[at] = t.case_goals[c];
        }
    }
}

}  // namespace kiv
