// The "trace" section of a result's JSON.
#include "formats/json/trace_json.h"

#include "error.h"
#include "suite/link.h"
#include "trace/status.h"

#include <unordered_map>

namespace kiv {

using json = nlohmann::json;

std::string goal_bits_text(const std::vector<uint64_t>& bits, std::size_t goals) {
    static const char kHex[] = "0123456789abcdef";
    std::string s((goals + 3) / 4, '0');
    for (std::size_t d = 0; d < s.size(); ++d)
        if (d / 16 < bits.size()) s[d] = kHex[bits[d / 16] >> (d % 16 * 4) & 15];
    return s;
}

bool goal_bits_from_text(const std::string& text, std::size_t goals, std::vector<uint64_t>& bits) {
    if (text.size() != (goals + 3) / 4) return false;
    bits.assign((goals + 63) / 64, 0);
    for (std::size_t d = 0; d < text.size(); ++d) {
        const char c = text[d];
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0 || (d * 4 + 4 > goals && v >> (goals - d * 4))) return false;
        bits[d / 16] |= static_cast<uint64_t>(v) << (d % 16 * 4);
    }
    return true;
}

json trace_json(const Result& r) {
    const TraceSection& t = *r.trace;
    const TraceSummary s = summarize_trace(r);
    json j;
    j["have_requirements"] = t.have_requirements;
    j["counts"] = json::object();
    for (std::size_t k = 0; k < kReqStatuses; ++k)
        j["counts"][req_status_key(static_cast<ReqStatus>(k))] = s.counts[k];
    j["counts"]["unlinked_cases"] = s.unlinked.size();
    j["requirements"] = json::array();
    for (const auto& st : s.requirements) {
        json jr{{"id", st.id}, {"status", req_status_key(st.status)}};
        if (st.requirement >= 0) {
            const Requirement& q = t.requirements[static_cast<std::size_t>(st.requirement)];
            jr["title"] = q.title;
            jr["revision"] = q.revision;
            jr["level"] = q.level;
            jr["text"] = q.text;
            jr["text_sha256"] = q.text_sha256;
            jr["file"] = q.file;
            jr["line"] = q.line;
        }
        jr["cases"] = json::array();
        for (std::size_t c : st.cases)
            jr["cases"].push_back(r.cases[c].id());
        jr["suspect"] = json::array();
        for (const auto& why : st.suspect)
            jr["suspect"].push_back(why.text);
        if (s.goals_known) {
            jr["goals"] = json::array();
            for (std::size_t g : st.goals)
                jr["goals"].push_back(r.goals[g].id);
        }
        j["requirements"].push_back(std::move(jr));
    }
    j["accepted"] = json::array();
    for (const auto& a : t.accepted)
        j["accepted"].push_back(
            {{"id", a.id}, {"text_sha256", a.text_sha256}, {"revision", a.revision}, {"source", a.source}});
    j["links"] = json::array();
    for (std::size_t c = 0; c < t.links.size() && c < r.cases.size(); ++c) {
        const CaseLink& l = t.links[c];
        const bool goals = c < t.case_goals.size() && !t.case_goals[c].empty();
        if (!l.linked() && l.technique.empty() && l.description.empty()) continue;
        json jl{{"case", r.cases[c].id()}, {"req", json::array()}, {"verifies", verifies_name(l.verifies)}};
        if (!l.technique.empty()) jl["technique"] = l.technique;
        if (!l.description.empty()) jl["description"] = l.description;
        for (const auto& ref : l.refs)
            jl["req"].push_back(ref.text());
        if (goals) jl["goals"] = goal_bits_text(t.case_goals[c], r.goals.size());
        j["links"].push_back(std::move(jl));
    }
    if (s.goals_known) {
        j["goals_no_linked_case_reached"] = json::array();
        for (std::size_t g : s.goals_unlinked)
            j["goals_no_linked_case_reached"].push_back(r.goals[g].id);
    }
    return j;
}

std::string trace_json_text(const Result& r, int indent) {
    json j = trace_json(r);
    const std::string pad(static_cast<std::size_t>(indent), ' ');
    std::string out = "{";
    bool first = true;
    for (auto it = j.begin(); it != j.end(); ++it) {
        out += (first ? "\n" : ",\n") + pad + json(it.key()).dump() + ": ";
        first = false;
        if (!it->is_array() || it->empty() || it.key() == "goals_no_linked_case_reached") {
            out += it->dump(-1, ' ', false, json::error_handler_t::replace);
            continue;
        }
        out += "[";
        for (std::size_t k = 0; k < it->size(); ++k)
            out += (k ? ",\n  " : "\n  ") + pad + (*it)[k].dump(-1, ' ', false, json::error_handler_t::replace);
        out += "\n" + pad + "]";
    }
    return out + "\n" + pad.substr(2) + "}";
}

TraceSection read_trace_json(const json& j, const Result& r, const std::string& what) {
    const auto bad = [&](const std::string& why) { return Error(what + ": not a kivrun result (trace: " + why + ")"); };
    TraceSection t;
    try {
        t.have_requirements = j.at("have_requirements").get<bool>();
        // Requirements in the set carry a file; IDs only cited do not.
        for (const json& q : j.at("requirements")) {
            if (!q.contains("file")) continue;
            Requirement x;
            x.id = q.at("id").get<std::string>();
            x.title = q.at("title").get<std::string>();
            x.revision = q.at("revision").get<int64_t>();
            x.level = q.at("level").get<std::string>();
            x.text = q.at("text").get<std::string>();
            x.text_sha256 = q.at("text_sha256").get<std::string>();
            x.file = q.at("file").get<std::string>();
            x.line = q.at("line").get<int32_t>();
            t.requirements.push_back(std::move(x));
        }
        for (const json& a : j.at("accepted"))
            t.accepted.push_back({a.at("id").get<std::string>(), a.at("text_sha256").get<std::string>(),
                                  a.at("revision").get<int64_t>(), a.at("source").get<std::string>()});
        std::unordered_map<std::string, std::size_t> index;
        for (std::size_t c = 0; c < r.cases.size(); ++c)
            index.emplace(r.cases[c].id(), c);
        t.links.resize(r.cases.size());
        t.case_goals.resize(r.cases.size());
        for (const json& l : j.at("links")) {
            // A link of a case the result does not hold (one taken out of it) says nothing.
            const auto it = index.find(l.at("case").get<std::string>());
            if (it == index.end()) continue;
            CaseLink& link = t.links[it->second];
            for (const json& ref : l.at("req")) {
                std::vector<RequirementRef> one;
                std::size_t at = 0;
                if (parse_requirement_refs(ref.get<std::string>(), one, at) || one.size() != 1)
                    throw bad("a malformed requirement reference '" + ref.get<std::string>() + "'");
                link.refs.push_back(one.front());
            }
            const auto v = verifies_named(l.at("verifies").get<std::string>());
            if (!v) throw bad("verifies '" + l.at("verifies").get<std::string>() + "'");
            link.verifies = *v;
            link.technique = l.value("technique", std::string());
            if (!link.technique.empty() && !technique_named(link.technique)) throw bad("technique '" + link.technique + "'");
            link.description = l.value("description", std::string());
            if (l.contains("goals") &&
                !goal_bits_from_text(l["goals"].get<std::string>(), r.goals.size(), t.case_goals[it->second]))
                throw bad("the goals of case " + it->first + " are not a goal set of this result");
        }
    } catch (const json::exception& e) {
        throw bad(e.what());
    }
    return t;
}

}  // namespace kiv
