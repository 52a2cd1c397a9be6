// The machine-readable reports: JSON with everything, JUnit XML for CI.
#include "report.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace kiv {

namespace {

const char* status_name(CaseStatus s) {
    switch (s) {
        case CaseStatus::passed:
            return "passed";
        case CaseStatus::failed:
            return "failed";
        case CaseStatus::crashed:
            return "crashed";
        case CaseStatus::timed_out:
            return "timed out";
        case CaseStatus::running:
            return "running";
        case CaseStatus::not_run:
        case CaseStatus::pending:
            break;
    }
    return "not run";
}

std::string xml_escape(const std::string& s) {
    std::string out;
    for (char ch : s) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                if (static_cast<unsigned char>(ch) < 0x20 && ch != '\n' && ch != '\t')
                    out += ' ';
                else
                    out += ch;
        }
    }
    return out;
}

}  // namespace

void Report::json(std::ostream& out) const {
    using nlohmann::json;
    const Summary& s = summary_;
    json j;
    j["library"] = info_.library;
    j["catalog"] = target_.catalog().path;
    j["suites"] = plan_.files;
    j["justification_files"] = info_.justification_files;
    j["isolation"] = info_.isolation == Isolation::snapshot ? "snapshot" : "fork";
    j["workers"] = info_.workers;
    j["seconds"] = result_.seconds;
    j["summary"] = {{"cases", plan_.cases.size()}, {"passed", s.passed},       {"failed", s.failed},
                    {"crashed", s.crashed},        {"timed_out", s.timed_out}, {"all_passed", s.all_passed()}};
    auto cov = [](const CoverageRow& r) {
        return json{{"criterion", r.criterion}, {"reached", r.reached},   {"justified", r.justified},
                    {"total", r.total},         {"percent", r.percent()}, {"covered_percent", r.covered_percent()}};
    };
    j["coverage"]["criteria"] = json::array();
    for (const auto& r : s.criteria)
        j["coverage"]["criteria"].push_back(cov(r));
    j["coverage"]["total"] = cov(s.total);
    j["goals"] = json::array();
    const auto& goals = target_.schema().goals;
    for (std::size_t g = 0; g < goals.size(); ++g) {
        const bool reached = result_.goals[g].case_index >= 0;
        const Justification* just = justification_of(g);
        json jg{{"id", goals[g].id},
                {"criterion", criterion_of(g)},
                {"reached", reached},
                {"status", reached ? "reached"
                           : just  ? "justified"
                                   : "open"}};
        if (const auto* info = goals[g].info) {
            jg["goal"] = info->goal;
            jg["record"] = info->record;
            jg["field"] = info->field;
            jg["function"] = info->function;
            jg["meaning"] = info->meaning;
        }
        if (const auto& r = result_.goals[g]; r.case_index >= 0) {
            const PlanCase& pc = plan_.cases[r.case_index];
            jg["first"] = {{"case", pc.name},
                           {"step", r.step + 1},
                           {"file", plan_.files[pc.file]},
                           {"line", plan_.steps[pc.first_step + r.step].line}};
        }
        // Kept on a reached goal too: it is what the warnings contradict.
        if (just) jg["justification"] = {{"reason", just->reason}, {"file", just->file}, {"line", just->line}};
        j["goals"].push_back(jg);
    }
    j["cases"] = json::array();
    for (std::size_t c = 0; c < plan_.cases.size(); ++c) {
        const PlanCase& pc = plan_.cases[c];
        const CaseOutcome& o = result_.cases[c];
        json jc{{"name", pc.name},           {"file", plan_.files[pc.file]},    {"line", pc.line},
                {"steps", pc.n_steps},       {"status", status_name(o.status)}, {"checks", o.checks},
                {"mismatches", o.mismatches}};
        if (o.mismatches) {
            const PlanStep& st = plan_.steps[pc.first_step + o.mismatch_step];
            jc["first_mismatch"] = {{"step", o.mismatch_step + 1},
                                    {"line", st.line},
                                    {"output", target_.schema().outputs[o.mismatch_output].name},
                                    {"expected", o.expected},
                                    {"actual", o.actual}};
        }
        if (o.status == CaseStatus::crashed || o.status == CaseStatus::timed_out) {
            const int32_t step = std::max(o.fault_step, 0);
            jc["fault"] = {{"step", step + 1},
                           {"line", plan_.steps[pc.first_step + step].line},
                           {"signal", o.signal ? signal_name(o.signal) : ""},
                           {"goals_kept", o.goals_kept}};
        }
        j["cases"].push_back(jc);
    }
    j["warnings"] = json::array();
    for (const auto& c : s.contradictions) {
        const GoalReach& r = result_.goals[c.goal];
        const PlanCase& pc = plan_.cases[r.case_index];
        const Justification& just = justifications_[c.justification];
        json w{{"id", goals[c.goal].id},
               {"case", pc.name},
               {"step", r.step + 1},
               {"file", plan_.files[pc.file]},
               {"line", plan_.steps[pc.first_step + r.step].line},
               {"justification", {{"reason", just.reason}, {"file", just.file}, {"line", just.line}}},
               {"message", contradiction_text(c)}};
        if (goals[c.goal].info) w["goal"] = goals[c.goal].info->goal;
        j["warnings"].push_back(w);
    }
    j["thresholds"] = json::array();
    for (const auto& t : s.thresholds)
        j["thresholds"].push_back({{"criterion", t.threshold.criterion},
                                   {"required", t.threshold.percent},
                                   {"actual", t.actual},
                                   {"measure", "covered_percent"},
                                   {"met", t.met}});
    out << j.dump(2) << "\n";
}

void Report::junit(std::ostream& out) const {
    const Summary& s = summary_;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<testsuites name=\"kivrun\" tests=\"" << plan_.cases.size() << "\" failures=\"" << s.failed
        << "\" errors=\"" << s.crashed + s.timed_out << "\" time=\"" << fixed(result_.seconds, 3) << "\">\n";
    for (uint32_t f = 0; f < plan_.files.size(); ++f) {
        std::size_t tests = 0, failures = 0, errors = 0;
        for (std::size_t c = 0; c < plan_.cases.size(); ++c)
            if (plan_.cases[c].file == f) {
                ++tests;
                failures += result_.cases[c].status == CaseStatus::failed;
                errors +=
                    result_.cases[c].status == CaseStatus::crashed || result_.cases[c].status == CaseStatus::timed_out;
            }
        out << "  <testsuite name=\"" << xml_escape(plan_.files[f]) << "\" tests=\"" << tests << "\" failures=\""
            << failures << "\" errors=\"" << errors << "\">\n    <properties>\n";
        auto property = [&](const CoverageRow& r) {
            out << "      <property name=\"coverage." << xml_escape(r.criterion) << "\" value=\"" << fixed(r.percent())
                << "\"/>\n      <property name=\"coverage." << xml_escape(r.criterion) << ".covered\" value=\""
                << fixed(r.covered_percent()) << "\"/>\n";
        };
        for (const auto& r : s.criteria)
            property(r);
        property(s.total);
        out << "    </properties>\n";
        for (std::size_t c = 0; c < plan_.cases.size(); ++c) {
            const PlanCase& pc = plan_.cases[c];
            if (pc.file != f) continue;
            const CaseOutcome& o = result_.cases[c];
            out << "    <testcase name=\"" << xml_escape(pc.name) << "\" classname=\"" << xml_escape(plan_.files[f])
                << "\" file=\"" << xml_escape(plan_.files[f]) << "\" line=\"" << pc.line << "\"";
            if (o.status == CaseStatus::passed) {
                out << "/>\n";
                continue;
            }
            const std::string what = xml_escape(case_problem(c));
            out << ">\n";
            if (o.status == CaseStatus::failed)
                out << "      <failure type=\"mismatch\" message=\"" << what << "\"/>\n";
            else
                out << "      <error type=\"" << (o.status == CaseStatus::crashed ? "crashed" : "timed out")
                    << "\" message=\"" << what << "\"/>\n";
            out << "    </testcase>\n";
        }
        // Contradicted justifications, in the suite of the case that reached the goal.
        std::string warnings;
        for (const auto& c : s.contradictions)
            if (plan_.cases[result_.goals[c.goal].case_index].file == f)
                warnings += "warning: " + contradiction_text(c) + "\n";
        if (!warnings.empty()) out << "    <system-out>" << xml_escape(warnings) << "</system-out>\n";
        out << "  </testsuite>\n";
    }
    out << "</testsuites>\n";
}

}  // namespace kiv
