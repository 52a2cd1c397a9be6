// JUnit XML for CI: a testsuite per suite file with its own cases, and a
// testsuite "coverage" that holds the run-wide figures and one test case per
// threshold, so a coverage shortfall is red wherever JUnit is read.
#include "formats/writers.h"

#include <cstdio>

namespace kiv {

namespace {

std::string time_attr(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return buf;
}

// A case's traceability as <properties>, as JUnit consumers read them: one
// `req` property per requirement, then verifies, technique, description.
std::string case_properties(const Result& r, std::size_t c) {
    if (!r.trace || c >= r.trace->links.size()) return "";
    const CaseLink& l = r.trace->links[c];
    std::string s;
    const auto property = [&](const char* name, const std::string& value) {
        s += "        <property name=\"" + std::string(name) + "\" value=\"" + xml_text(value) + "\"/>\n";
    };
    for (const auto& ref : l.refs)
        property("req", ref.text());
    if (l.linked()) property("verifies", verifies_name(l.verifies));
    if (!l.technique.empty()) property("technique", l.technique);
    if (!l.description.empty()) property("description", l.description);
    return s.empty() ? s : "      <properties>\n" + s + "      </properties>\n";
}

}  // namespace

void write_junit(const Result& r, const Summary& s, std::ostream& out) {
    std::size_t failed_thresholds = 0;
    for (const auto& t : s.thresholds)
        failed_thresholds += !t.met;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<testsuites name=\"kivrun\" tests=\"" << r.cases.size() + s.thresholds.size() << "\" failures=\""
        << s.failed + failed_thresholds << "\" errors=\"" << s.crashed + s.timed_out + s.not_run << "\" time=\""
        << time_attr(r.run.seconds) << "\" timestamp=\"" << xml_text(r.run.started) << "\">\n";
    for (const std::string& suite : r.run.suites) {
        std::size_t tests = 0, failures = 0, errors = 0;
        double time = 0;
        for (const auto& c : r.cases)
            if (c.suite == suite) {
                ++tests;
                failures += c.verdict == Verdict::failed;
                errors += c.verdict != Verdict::passed && c.verdict != Verdict::failed;
                time += c.seconds;
            }
        out << "  <testsuite name=\"" << xml_text(suite) << "\" tests=\"" << tests << "\" failures=\"" << failures
            << "\" errors=\"" << errors << "\" time=\"" << time_attr(time) << "\" timestamp=\"" << xml_text(r.run.started)
            << "\">\n";
        for (std::size_t ci = 0; ci < r.cases.size(); ++ci) {
            const CaseResult& c = r.cases[ci];
            if (c.suite != suite) continue;
            out << "    <testcase name=\"" << xml_text(c.name) << "\" classname=\"" << xml_text(suite) << "\" file=\""
                << xml_text(suite) << "\" line=\"" << c.line << "\" time=\"" << time_attr(c.seconds) << "\"";
            const std::string properties = case_properties(r, ci);
            if (c.verdict == Verdict::passed && properties.empty()) {
                out << "/>\n";
                continue;
            }
            out << ">\n" << properties;
            if (c.verdict == Verdict::passed) {
                out << "    </testcase>\n";
                continue;
            }
            const std::string what = xml_text(case_problem(r, c));
            if (c.verdict == Verdict::failed) {
                out << "      <failure type=\"mismatch\" message=\"" << what << "\">";
                for (const Mismatch& m : c.mismatches)
                    out << xml_text(step_where(c, m.step) + ": " + m.output + " expected " + m.expected + ", got " +
                                    m.actual_as_text() + "\n");
                out << "</failure>\n";
            } else {
                out << "      <error type=\"" << verdict_name(c.verdict) << "\" message=\"" << what << "\"/>\n";
            }
            out << "    </testcase>\n";
        }
        out << "  </testsuite>\n";
    }
    // Run-wide: the figures belong to the whole run, not to one suite.
    out << "  <testsuite name=\"coverage\" tests=\"" << s.thresholds.size() << "\" failures=\"" << failed_thresholds
        << "\" errors=\"0\" time=\"0\" timestamp=\"" << xml_text(r.run.started) << "\">\n    <properties>\n";
    auto property = [&](const CoverageRow& row) {
        out << "      <property name=\"coverage." << xml_text(row.criterion) << "\" value=\""
            << percent_text(row.percent()) << "\"/>\n      <property name=\"coverage." << xml_text(row.criterion)
            << ".covered\" value=\"" << percent_text(row.covered_percent()) << "\"/>\n";
    };
    for (const auto& row : s.criteria)
        property(row);
    property(s.total);
    // Goals per verdict, run-wide.
    for (const auto& [name, n] : {std::pair<const char*, std::size_t>{"reached", s.total.reached},
                                  {"proven", s.total.proven},
                                  {"justified_by_hand", s.total.justified - s.total.proven},
                                  {"unknown", s.total.unknown()}})
        out << "      <property name=\"goals." << name << "\" value=\"" << n << "\"/>\n";
    if (s.mcdc) property(*s.mcdc);
    out << "    </properties>\n";
    for (const auto& t : s.thresholds) {
        const double actual = t.row.covered_percent();
        const std::string name = "fail-under " + t.threshold.criterion + "=" + percent_text(t.threshold.percent, actual);
        out << "    <testcase name=\"" << xml_text(name) << "\" classname=\"coverage\" time=\"0\"";
        if (t.met) {
            out << "/>\n";
            continue;
        }
        out << ">\n      <failure type=\"coverage\" message=\""
            << xml_text(t.threshold.criterion + " covered " + percent_text(actual, t.threshold.percent) + "% (" +
                        std::to_string(t.row.reached + t.row.justified) + "/" + std::to_string(t.row.total) +
                        "), required " + percent_text(t.threshold.percent, actual) + "%")
            << "\"/>\n    </testcase>\n";
    }
    std::string warnings;
    for (std::size_t g : s.contradictions)
        warnings += "error: " + contradiction_text(r, g) + "\n";
    for (const auto& [d, c] : s.mcdc_contradictions)
        warnings += "warning: " + mcdc_contradiction_text(r, d, c) + "\n";
    // What MC/DC still lacks, where CI shows it.
    if (r.mcdc)
        for (const auto& d : r.mcdc->decisions)
            for (std::size_t i = 0; i < d.conditions.size(); ++i)
                if (const McdcCondition& c = d.conditions[i]; !c.shown && !c.justification) {
                    warnings += "mcdc: " + d.record + " c" + std::to_string(i) + " (" + c.record + ", " + d.file +
                                ":" + std::to_string(d.line) + ") not shown";
                    for (std::size_t k = 0; k < c.missing.size(); ++k)
                        warnings += (k ? " and " : "; needs ") + mcdc_vector_text(c.missing[k]);
                    warnings += "\n";
                }
    if (!warnings.empty()) out << "    <system-out>" << xml_text(warnings) << "</system-out>\n";
    out << "  </testsuite>\n</testsuites>\n";
}

}  // namespace kiv
