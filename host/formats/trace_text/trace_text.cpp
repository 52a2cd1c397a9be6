// The requirements section of the text report.
#include "formats/trace_writers.h"
#include "formats/writers.h"

namespace kiv {

namespace {

std::string requirement_label(const Result& r, const RequirementState& s) {
    std::string label = s.id;
    if (s.requirement < 0) return label;
    const Requirement& q = r.trace->requirements[static_cast<std::size_t>(s.requirement)];
    if (q.revision >= 0) label += "@" + std::to_string(q.revision);
    if (!q.title.empty()) label += "  " + q.title;
    return label;
}

}  // namespace

void write_trace_text(const Result& r, const TraceSummary& s, std::ostream& out, bool verbose) {
    if (!r.trace) return;
    out << "\nRequirements: " << count(s.requirements.size(), "requirement", "requirements") << ": ";
    constexpr ReqStatus kShown[] = {ReqStatus::verified, ReqStatus::partial, ReqStatus::failing,
                                    ReqStatus::suspect,  ReqStatus::untested, ReqStatus::unknown};
    for (ReqStatus status : kShown) {
        if (status == ReqStatus::unknown && !r.trace->have_requirements) continue;
        out << (status != kShown[0] ? ", " : "") << s.counts[static_cast<std::size_t>(status)] << " "
            << req_status_name(status);
    }
    out << "; " << count(s.unlinked.size(), "case names", "cases name") << " no requirement\n";
    for (const auto& q : s.requirements) {
        std::size_t goals = q.goals.size();
        out << "  " << format("%-13s", req_status_name(q.status)) << terminal_text(requirement_label(r, q)) << "  ("
            << count(q.cases.size(), "case", "cases");
        if (s.goals_known && !q.cases.empty()) out << ", " << count(goals, "goal", "goals");
        out << ")\n";
        for (std::size_t c : q.cases) {
            const CaseResult& cr = r.cases[c];
            const CaseLink& l = r.trace->links[c];
            if (!verbose && cr.verdict == Verdict::passed) continue;
            out << "      " << format("%-8s", verdict_name(cr.verdict)) << terminal_text(cr.suite + ":" + cr.name) << " ("
                << verifies_name(l.verifies) << (l.technique.empty() ? "" : ", " + l.technique) << ")\n";
        }
        for (const auto& why : q.suspect)
            out << "      suspect: " << terminal_text(why.text) << "\n";
        // The acceptance row that clears it, once its cases are reviewed.
        if (!q.suspect.empty() && q.requirement >= 0) {
            const Requirement& req = r.trace->requirements[static_cast<std::size_t>(q.requirement)];
            out << "      to accept (req,sha256,revision): " << terminal_text(req.id) << "," << req.text_sha256 << ","
                << (req.revision >= 0 ? std::to_string(req.revision) : "") << "\n";
        }
    }
    for (std::size_t c : s.unlinked)
        out << "  no requirement: " << terminal_text(r.cases[c].suite + ":" + r.cases[c].name) << "\n";
    if (s.goals_known)
        out << "Goals no requirement-linked case reached: " << s.goals_unlinked.size() << " of " << r.goals.size()
            << "\n";
}

}  // namespace kiv
