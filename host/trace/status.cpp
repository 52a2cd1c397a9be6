// Requirement statuses and the gates on them.
#include "trace/status.h"

#include "error.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>

namespace kiv {

namespace {

struct StatusName {
    ReqStatus status;
    const char* name;
    const char* key;
};
constexpr StatusName kStatuses[] = {
    {ReqStatus::untested, "untested", "untested"}, {ReqStatus::failing, "failing", "failing"},
    {ReqStatus::suspect, "suspect", "suspect"},    {ReqStatus::partial, "partial only", "partial"},
    {ReqStatus::verified, "verified", "verified"}, {ReqStatus::unknown, "unknown ID", "unknown"}};
static_assert(std::size(kStatuses) == kReqStatuses);

// A file's setup case runs before each other case; it verifies nothing of its own.
bool is_setup(const CaseResult& c) {
    std::string n = c.name;
    for (char& ch : n)
        ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    return n == "setup";
}

std::string revision_text(int64_t r) {
    return r < 0 ? "none" : std::to_string(r);
}

// Suspect when a case was linked at another revision, or the text is not the
// one last accepted; an acceptance of the present text and revision clears both.
void judge_suspect(const Result& result, RequirementState& s) {
    const TraceSection& t = *result.trace;
    if (s.requirement < 0) return;
    const Requirement& r = t.requirements[static_cast<std::size_t>(s.requirement)];
    const Acceptance* last = nullptr;
    bool current = false;
    for (const auto& a : t.accepted)
        if (a.id == r.id) {
            last = &a;
            current |= a.text_sha256 == r.text_sha256 && (a.revision < 0 || a.revision == r.revision);
        }
    if (current) return;
    if (last && last->text_sha256 != r.text_sha256)
        s.suspect.push_back({SIZE_MAX, "its text changed since it was accepted (" + last->source + ")"});
    if (r.revision < 0) return;
    for (std::size_t c : s.cases)
        for (const auto& ref : t.links[c].refs)
            if (ref.id == r.id && ref.revision >= 0 && ref.revision != r.revision)
                s.suspect.push_back({c, "case " + result.cases[c].name + " was linked at revision " +
                                            std::to_string(ref.revision) + ", the requirement is at revision " +
                                            revision_text(r.revision)});
}

}  // namespace

const char* req_status_name(ReqStatus s) {
    return kStatuses[static_cast<std::size_t>(s)].name;
}

const char* req_status_key(ReqStatus s) {
    return kStatuses[static_cast<std::size_t>(s)].key;
}

std::optional<ReqStatus> req_status_keyed(const std::string& key) {
    for (const auto& s : kStatuses)
        if (key == s.key || key == s.name) return s.status;
    return std::nullopt;
}

TraceSummary summarize_trace(const Result& result) {
    TraceSummary out;
    if (!result.trace) {
        // No case names a requirement: each is a case without one.
        for (std::size_t c = 0; c < result.cases.size(); ++c)
            if (!is_setup(result.cases[c])) out.unlinked.push_back(c);
        return out;
    }
    const TraceSection& t = *result.trace;
    std::unordered_map<std::string, std::size_t> index;
    for (std::size_t k = 0; k < t.requirements.size(); ++k) {
        index.emplace(t.requirements[k].id, out.requirements.size());
        out.requirements.push_back({t.requirements[k].id, static_cast<int64_t>(k)});
    }
    // Known when the run recorded linked cases' goals; a case that crashed or
    // did not run has none recorded and adds none.
    out.goals_known = false;
    std::vector<uint64_t> linked_goals((result.goals.size() + 63) / 64);
    for (std::size_t c = 0; c < result.cases.size() && c < t.links.size(); ++c) {
        const CaseLink& l = t.links[c];
        if (!l.linked()) {
            if (!is_setup(result.cases[c])) out.unlinked.push_back(c);
            continue;
        }
        const bool goals = c < t.case_goals.size() && !t.case_goals[c].empty();
        out.goals_known |= goals;
        if (goals)
            for (std::size_t w = 0; w < linked_goals.size() && w < t.case_goals[c].size(); ++w)
                linked_goals[w] |= t.case_goals[c][w];
        for (const auto& ref : l.refs) {
            auto [it, fresh] = index.emplace(ref.id, out.requirements.size());
            if (fresh) out.requirements.push_back({ref.id, -1});
            RequirementState& s = out.requirements[it->second];
            s.cases.push_back(c);
            if (result.cases[c].verdict != Verdict::passed)
                ++s.not_passed;
            else
                ++(l.verifies == Verifies::full ? s.passed_full : s.passed_partial);
        }
    }
    for (auto& s : out.requirements) {
        judge_suspect(result, s);
        if (s.requirement < 0 && t.have_requirements)
            s.status = ReqStatus::unknown;
        else if (s.cases.empty())
            s.status = ReqStatus::untested;
        else if (s.not_passed)
            s.status = ReqStatus::failing;
        else if (!s.suspect.empty())
            s.status = ReqStatus::suspect;
        else if (!s.passed_full)
            s.status = ReqStatus::partial;
        else
            s.status = ReqStatus::verified;
        ++out.counts[static_cast<std::size_t>(s.status)];
        if (!out.goals_known) continue;
        std::vector<uint64_t> mine(linked_goals.size());
        for (std::size_t c : s.cases)
            if (c < t.case_goals.size())
                for (std::size_t w = 0; w < mine.size() && w < t.case_goals[c].size(); ++w)
                    mine[w] |= t.case_goals[c][w];
        for (std::size_t g = 0; g < result.goals.size(); ++g)
            if (mine[g / 64] >> (g % 64) & 1) s.goals.push_back(g);
    }
    if (out.goals_known)
        for (std::size_t g = 0; g < result.goals.size(); ++g)
            if (!(linked_goals[g / 64] >> (g % 64) & 1)) out.goals_unlinked.push_back(g);
    return out;
}

TraceGate parse_trace_gate(const std::string& text) {
    TraceGate gate;
    std::size_t b = 0;
    while (b <= text.size()) {
        const std::size_t e = std::min(text.find(',', b), text.size());
        const std::string item = text.substr(b, e - b);
        const std::size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        std::size_t limit = 0;
        const char* v = eq == std::string::npos ? nullptr : item.data() + eq + 1;
        const auto [p, ec] = v ? std::from_chars(v, item.data() + item.size(), limit) : std::from_chars_result{v, {}};
        const auto status = req_status_keyed(key);
        if (key != "unlinked" && (!status || *status == ReqStatus::verified))
            throw Error("--gate: unknown count '" + key +
                        "'; expected untested, failing, suspect, partial, unknown or unlinked");
        if (!v || *v == '\0' || ec != std::errc() || p != item.data() + item.size())
            throw Error("--gate: '" + item + "' is not COUNT=N with N a whole number, e.g. untested=0");
        gate.limits.emplace_back(key == "unlinked" ? key : req_status_key(*status), limit);
        b = e + 1;
    }
    return gate;
}

namespace {

std::string case_where(const CaseResult& c) {
    return c.suite + ":" + std::to_string(c.line);
}

std::string requirement_where(const Result& result, const RequirementState& s) {
    if (s.requirement >= 0) {
        const Requirement& r = result.trace->requirements[static_cast<std::size_t>(s.requirement)];
        return r.line ? r.file + ":" + std::to_string(r.line) : r.file;
    }
    return s.cases.empty() ? "" : case_where(result.cases[s.cases.front()]);
}

// One message per problem of a requirement of `status`.
void explain(const Result& result, const RequirementState& s, std::ostream& err) {
    const auto& cases = result.cases;
    switch (s.status) {
        case ReqStatus::untested:
            err << requirement_where(result, s) << ": error: " << s.id << " has no case\n";
            break;
        case ReqStatus::failing:
            for (std::size_t c : s.cases)
                if (cases[c].verdict != Verdict::passed)
                    err << case_where(cases[c]) << ": error: " << s.id
                        << (s.passed_full + s.passed_partial ? " has a case that did not pass: "
                                                             : " has no passing case: ")
                        << cases[c].name << " " << verdict_name(cases[c].verdict) << "\n";
            break;
        case ReqStatus::suspect:
            for (const auto& why : s.suspect)
                err << (why.case_index == SIZE_MAX ? requirement_where(result, s) : case_where(cases[why.case_index]))
                    << ": error: " << s.id << " is suspect: " << why.text << "; review its cases and accept it\n";
            break;
        case ReqStatus::partial:
            err << requirement_where(result, s) << ": error: " << s.id
                << " is verified only partially: no case verifies it in full\n";
            break;
        case ReqStatus::unknown:
            for (std::size_t c : s.cases)
                err << case_where(cases[c]) << ": error: " << s.id << " (case " << cases[c].name
                    << ") is not in the requirement set\n";
            break;
        case ReqStatus::verified:
            break;
    }
}

}  // namespace

bool check_trace_gate(const TraceGate& gate, const Result& result, const TraceSummary& summary, std::ostream& err) {
    bool ok = true;
    for (const auto& [key, limit] : gate.limits) {
        if (key == "unlinked") {
            if (summary.unlinked.size() <= limit) continue;
            for (std::size_t c : summary.unlinked)
                err << case_where(result.cases[c]) << ": error: case " << result.cases[c].name
                    << " names no requirement\n";
            err << "kivrun: gate unlinked=" << limit << " not met: " << summary.unlinked.size()
                << (summary.unlinked.size() == 1 ? " case names" : " cases name") << " no requirement\n";
            ok = false;
            continue;
        }
        const ReqStatus status = *req_status_keyed(key);
        const std::size_t n = summary.counts[static_cast<std::size_t>(status)];
        if (n <= limit) continue;
        for (const auto& s : summary.requirements)
            if (s.status == status) explain(result, s, err);
        err << "kivrun: gate " << key << "=" << limit << " not met: " << n << " " << req_status_name(status) << "\n";
        ok = false;
    }
    return ok;
}

}  // namespace kiv
