// Filling the result's trace section from the command line's files.
#include "trace/inputs.h"

#include "trace/requirements.h"

namespace kiv {

void TraceInputs::add_options(CLI::App& cmd) {
    cmd.add_option("--requirements", requirements,
                   "Requirement set: CSV (id, title, text, revision, level), .reqif or .reqifz (repeatable)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    cmd.add_option("--req-map", mapping,
                   "Which ReqIF attribute (long name) is each field (default: id=ReqIF.ForeignID,text=ReqIF.Text,"
                   "title=ReqIF.Name,revision=Revision,level=IntegrityLevel)")
        ->type_name("FIELD=NAME,...");
    cmd.add_option("--accepted", accepted,
                   "Acceptance file: CSV of req, sha256 (the text hash accepted) and optional revision, note "
                   "(repeatable)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    cmd.add_option("--accept", accept,
                   "Accept a requirement's present text and revision for this run, recorded in the result "
                   "(repeatable)")
        ->type_name("ID")
        ->allow_extra_args(false);
}

std::vector<std::string> TraceInputs::files() const {
    std::vector<std::string> f = requirements;
    f.insert(f.end(), accepted.begin(), accepted.end());
    return f;
}

TraceInputs::Loaded TraceInputs::load() const {
    Loaded out;
    if (!any()) return out;
    const RequirementMapping map = mapping.empty() ? RequirementMapping{} : parse_requirement_mapping(mapping);
    std::vector<Diagnostic> problems;
    try {
        out.requirements = read_requirements(requirements, map);
    } catch (const SuiteError& e) {
        problems = e.diagnostics;
    }
    try {
        out.accepted = read_acceptances(accepted);
    } catch (const SuiteError& e) {
        problems.insert(problems.end(), e.diagnostics.begin(), e.diagnostics.end());
    }
    if (!problems.empty()) throw SuiteError(std::move(problems));
    for (const auto& id : accept) {
        const Requirement* r = nullptr;
        for (const auto& q : out.requirements)
            if (q.id == id) r = &q;
        if (!r)
            throw Error("--accept " + id + ": not a requirement of the set" +
                        (requirements.empty() ? " (no --requirements given)" : ""));
        out.accepted.push_back({r->id, r->text_sha256, r->revision, "--accept"});
    }
    return out;
}

void TraceInputs::apply(const Loaded& loaded, Result& result) const {
    if (!any()) return;
    if (!result.trace) {
        result.trace.emplace();
        result.trace->links.resize(result.cases.size());
    }
    TraceSection& t = *result.trace;
    if (!requirements.empty()) {
        t.have_requirements = true;
        t.requirements = loaded.requirements;
    }
    if (!accepted.empty() || !accept.empty()) t.accepted = loaded.accepted;
}

void add_case_links(Result& result, const Plan& plan, const RunResult& run) {
    if (plan.links.empty()) return;
    TraceSection& t = result.trace.emplace();
    t.links.resize(plan.cases.size());
    t.case_goals.resize(plan.cases.size());
    for (std::size_t c = 0; c < plan.cases.size(); ++c) {
        if (!plan.cases[c].link) continue;
        t.links[c] = plan.links[plan.cases[c].link - 1];
        if (t.links[c].linked() && c < run.case_goals.size()) t.case_goals[c] = run.case_goals[c];
    }
}

}  // namespace kiv
