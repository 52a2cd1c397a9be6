// Summaries and the three report formats.
#include "report.h"

#include "error.h"

#include <nlohmann/json.hpp>

#include <signal.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace kiv {

namespace {

std::string signal_name(int sig) {
    const char* abbrev = sigabbrev_np(sig);
    return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
}

std::string fixed(double v, int digits = 1) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

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

Threshold parse_threshold(const std::string& text) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) throw Error("--fail-under '" + text + "': expected CRITERION=PERCENT");
    auto name = criterion_named(text.substr(0, eq));
    if (!name)
        throw Error("--fail-under '" + text +
                    "': unknown criterion; expected statement, decision, condition, "
                    "relational, cast, function, call, switch or total");
    const std::string num = text.substr(eq + 1);
    char* end = nullptr;
    const double p = std::strtod(num.c_str(), &end);
    if (num.empty() || *end != '\0' || !(p >= 0 && p <= 100))
        throw Error("--fail-under '" + text + "': expected a percentage from 0 to 100");
    return {*name, p};
}

bool Summary::all_passed() const {
    if (failed || crashed || timed_out) return false;
    for (const auto& t : thresholds)
        if (!t.met) return false;
    return true;
}

Report::Report(const Target& target, const Plan& plan, const RunResult& result, RunInfo info,
               std::vector<Threshold> thresholds)
    : target_(target), plan_(plan), result_(result), info_(std::move(info)) {
    const auto& goals = target.schema().goals;
    std::map<std::string, CoverageRow> rows;
    summary_.total.criterion = "total";
    for (std::size_t g = 0; g < goals.size(); ++g) {
        const bool hit = result.goals[g].case_index >= 0;
        auto& row = rows[criterion_of(g)];
        row.total++, row.reached += hit;
        summary_.total.total++, summary_.total.reached += hit;
    }
    for (const auto& c : kCriteria)
        if (auto it = rows.find(c.name); it != rows.end()) {
            it->second.criterion = c.name;
            summary_.criteria.push_back(it->second);
        }
    for (const auto& c : result.cases) {
        summary_.passed += c.status == CaseStatus::passed;
        summary_.failed += c.status == CaseStatus::failed;
        summary_.crashed += c.status == CaseStatus::crashed;
        summary_.timed_out += c.status == CaseStatus::timed_out;
    }
    for (const auto& t : thresholds) {
        double actual = summary_.total.percent();
        if (t.criterion != "total") {
            auto it = rows.find(t.criterion);
            if (it == rows.end())
                throw Error("--fail-under " + t.criterion + ": the library has no goals of that criterion" +
                            (target.catalog().present() ? "" : " known without a catalog"));
            actual = it->second.percent();
        }
        // Compared at the precision the report prints, so "90.0 < 90" never happens.
        const bool met = std::round(actual * 10) / 10 >= t.percent - 1e-9;
        summary_.thresholds.push_back({t, actual, met});
    }
}

std::string Report::criterion_of(std::size_t g) const {
    const auto* info = target_.schema().goals[g].info;
    return info ? info->criterion : "unclassified";
}

std::string Report::goal_label(std::size_t g) const {
    const auto& slot = target_.schema().goals[g];
    std::string s = "ID " + std::to_string(slot.id);
    if (slot.info) s += " KIV_G" + std::to_string(slot.info->goal);
    return s;
}

std::string Report::step_where(int64_t c, int32_t step) const {
    const PlanCase& pc = plan_.cases[c];
    const PlanStep& st = plan_.steps[pc.first_step + step];
    return "step " + std::to_string(step + 1) + " (" + plan_.files[pc.file] + ":" + std::to_string(st.line) + ")";
}

// One line on what went wrong in case c, empty when it passed.
std::string Report::case_problem(std::size_t c) const {
    const CaseOutcome& o = result_.cases[c];
    std::string s;
    if (o.status == CaseStatus::crashed || o.status == CaseStatus::timed_out) {
        const int32_t step = std::max(o.fault_step, 0);
        s = o.status == CaseStatus::crashed
                ? (o.signal ? signal_name(o.signal) : std::string("the worker died")) + " in " + step_where(c, step)
                : step_where(c, step) + " ran longer than " + fixed(info_.step_timeout, 3) + " s";
        s += o.goals_kept ? "; goals reached before it are kept" : "; goals of that step are lost";
    }
    if (o.mismatches) {
        if (!s.empty()) s += "; ";
        s += step_where(c, o.mismatch_step) + ": " + target_.schema().outputs[o.mismatch_output].name + " expected " +
             std::to_string(o.expected) + ", got " + std::to_string(o.actual) + " (" + std::to_string(o.mismatches) +
             " of " + std::to_string(o.checks) + " checks failed)";
    }
    return s;
}

void Report::text(std::ostream& out, bool trace) const {
    const Summary& s = summary_;
    std::size_t steps = 0;
    for (const auto& c : plan_.cases)
        steps += c.n_steps;
    out << "kivrun: " << plan_.cases.size() << " cases, " << steps << " steps, " << fixed(result_.seconds, 3) << " s ("
        << (info_.isolation == Isolation::snapshot ? "snapshot" : "fork") << ", " << info_.workers
        << (info_.workers == 1 ? " worker)\n" : " workers)\n");
    out << "\nCases: " << s.passed << " passed, " << s.failed << " failed, " << s.crashed << " crashed, " << s.timed_out
        << " timed out\n";
    const bool list_all = plan_.cases.size() <= 40;
    for (std::size_t c = 0; c < plan_.cases.size(); ++c) {
        const auto st = result_.cases[c].status;
        if (st == CaseStatus::passed && !list_all) continue;
        const char* tag = st == CaseStatus::passed      ? "pass "
                          : st == CaseStatus::failed    ? "FAIL "
                          : st == CaseStatus::crashed   ? "CRASH"
                          : st == CaseStatus::timed_out ? "HUNG "
                                                        : "SKIP ";
        const PlanCase& pc = plan_.cases[c];
        out << "  " << tag << " " << pc.name;
        if (st == CaseStatus::passed)
            out << " (" << result_.cases[c].checks << " checks)";
        else
            out << ": " << case_problem(c);
        out << "\n";
    }
    out << "\nCoverage        reached  total      %\n";
    char line[96];
    auto row = [&](const CoverageRow& r) {
        std::snprintf(line, sizeof line, "  %-13s %7zu %6zu  %5.1f\n", r.criterion.c_str(), r.reached, r.total,
                      r.percent());
        out << line;
    };
    for (const auto& r : s.criteria)
        row(r);
    row(s.total);
    const auto& goals = target_.schema().goals;
    const std::size_t missing = s.total.total - s.total.reached;
    if (missing) out << "\nGoals not reached (" << missing << "):\n";
    // In goal order, which groups them by unit and criterion.
    std::vector<std::size_t> order(goals.size());
    for (std::size_t g = 0; g < order.size(); ++g)
        order[g] = g;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return (goals[a].info ? goals[a].info->goal : 0) < (goals[b].info ? goals[b].info->goal : 0);
    });
    for (std::size_t g : order)
        if (result_.goals[g].case_index < 0) {
            std::snprintf(line, sizeof line, "  %-16s %-12s ", goal_label(g).c_str(), criterion_of(g).c_str());
            out << line << (goals[g].info ? goals[g].info->meaning : "") << "\n";
        }
    if (trace) {
        out << "\nFirst reached by:\n";
        for (std::size_t g = 0; g < goals.size(); ++g)
            if (const auto& r = result_.goals[g]; r.case_index >= 0)
                out << "  " << goal_label(g) << "  " << plan_.cases[r.case_index].name << ", "
                    << step_where(r.case_index, r.step) << "\n";
    }
    if (!s.thresholds.empty()) out << "\nThresholds:\n";
    for (const auto& t : s.thresholds)
        out << "  " << t.threshold.criterion << " " << fixed(t.actual) << "% " << (t.met ? ">=" : "<") << " "
            << fixed(t.threshold.percent) << "%: " << (t.met ? "met" : "NOT MET") << "\n";
    out << "\n" << (s.all_passed() ? "PASSED" : "FAILED") << "\n";
}

void Report::json(std::ostream& out) const {
    using nlohmann::json;
    const Summary& s = summary_;
    json j;
    j["library"] = info_.library;
    j["catalog"] = target_.catalog().path;
    j["suites"] = plan_.files;
    j["isolation"] = info_.isolation == Isolation::snapshot ? "snapshot" : "fork";
    j["workers"] = info_.workers;
    j["seconds"] = result_.seconds;
    j["summary"] = {{"cases", plan_.cases.size()}, {"passed", s.passed},       {"failed", s.failed},
                    {"crashed", s.crashed},        {"timed_out", s.timed_out}, {"all_passed", s.all_passed()}};
    auto cov = [](const CoverageRow& r) {
        return json{{"criterion", r.criterion}, {"reached", r.reached}, {"total", r.total}, {"percent", r.percent()}};
    };
    j["coverage"]["criteria"] = json::array();
    for (const auto& r : s.criteria)
        j["coverage"]["criteria"].push_back(cov(r));
    j["coverage"]["total"] = cov(s.total);
    j["goals"] = json::array();
    const auto& goals = target_.schema().goals;
    for (std::size_t g = 0; g < goals.size(); ++g) {
        json jg{{"id", goals[g].id}, {"criterion", criterion_of(g)}, {"reached", result_.goals[g].case_index >= 0}};
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
    j["thresholds"] = json::array();
    for (const auto& t : s.thresholds)
        j["thresholds"].push_back({{"criterion", t.threshold.criterion},
                                   {"required", t.threshold.percent},
                                   {"actual", t.actual},
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
        for (const auto& r : s.criteria)
            out << "      <property name=\"coverage." << xml_escape(r.criterion) << "\" value=\"" << fixed(r.percent())
                << "\"/>\n";
        out << "      <property name=\"coverage.total\" value=\"" << fixed(s.total.percent()) << "\"/>\n"
            << "    </properties>\n";
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
        out << "  </testsuite>\n";
    }
    out << "</testsuites>\n";
}

}  // namespace kiv
