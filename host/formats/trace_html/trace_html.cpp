// The traceability report as HTML: an index with the requirement x case
// matrix, a page per requirement with its cases and the goals they reached,
// and the goals no requirement-linked case reached.
#include "formats/report_files.h"
#include "formats/report_folder.h"
#include "formats/trace_writers.h"
#include "formats/writers.h"

namespace kiv {

namespace {

std::string h(const std::string& s) {
    return xml_text(s);
}

void head(std::ostream& out, const std::string& title) {
    out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" << h(title)
        << "</title><style>body{font-family:sans-serif}table{border-collapse:collapse}"
           "td,th{border:1px solid #ccc;padding:2px 6px;text-align:left}"
           ".passed,.verified{background:#c8f0c8}.partial{background:#f0f0b0}"
           ".failed,.crashed,.timed,.not,.failing,.unknown{background:#f4b8b8}.suspect{background:#f8d8a0}"
           ".untested{background:#e0e0e0}th.v{writing-mode:vertical-rl}</style></head><body>\n<h1>"
        << h(title) << "</h1>\n";
}

std::string css(const char* name) {
    std::string s(name);
    return s.substr(0, s.find(' '));
}

std::string page(std::size_t k) {
    return "req-" + std::to_string(k + 1) + ".html";
}

std::string goal_row(const GoalResult& g) {
    return "<tr><td>" + h(goal_label(g)) + "</td><td>" + h(g.criterion) + "</td><td>" +
           h(g.file.empty() ? "" : g.file + ":" + std::to_string(g.line)) + "</td><td>" + h(g.function) + "</td><td>" +
           h(g.meaning) + "</td></tr>\n";
}

void index_page(const Result& r, const TraceSummary& s, const std::vector<std::size_t>& columns, std::ostream& out) {
    head(out, "Requirements traced to cases");
    out << "<p>";
    for (std::size_t k = 0; k < kReqStatuses; ++k)
        out << (k ? ", " : "") << s.counts[k] << " " << req_status_name(static_cast<ReqStatus>(k));
    out << "; " << s.unlinked.size() << " cases name no requirement.</p>\n<table><tr><th>requirement</th><th>status</th>";
    for (std::size_t c : columns)
        out << "<th class=\"v\">" << h(r.cases[c].id()) << "</th>";
    out << "</tr>\n";
    for (std::size_t k = 0; k < s.requirements.size(); ++k) {
        const RequirementState& q = s.requirements[k];
        out << "<tr><td><a href=\"" << page(k) << "\">" << h(q.id) << "</a></td><td class=\""
            << css(req_status_key(q.status)) << "\">" << req_status_name(q.status) << "</td>";
        std::size_t i = 0;
        for (std::size_t c : columns) {
            while (i < q.cases.size() && q.cases[i] < c) ++i;
            if (i < q.cases.size() && q.cases[i] == c)
                out << "<td class=\"" << css(verdict_name(r.cases[c].verdict)) << "\">"
                    << (r.trace->links[c].verifies == Verifies::full ? "F" : "P") << "</td>";
            else
                out << "<td></td>";
        }
        out << "</tr>\n";
    }
    out << "</table>\n<p>F: the case verifies the requirement in full, P: in part; the colour is the case's verdict.</p>\n";
    if (s.goals_known) {
        out << "<h2>Goals no requirement-linked case reached (" << s.goals_unlinked.size() << " of " << r.goals.size()
            << ")</h2>\n<table><tr><th>goal</th><th>criterion</th><th>where</th><th>function</th><th>meaning</th></tr>\n";
        for (std::size_t g : s.goals_unlinked)
            out << goal_row(r.goals[g]);
        out << "</table>\n";
    }
    out << "</body></html>\n";
}

void requirement_page(const Result& r, const TraceSummary& s, const RequirementState& q, std::ostream& out) {
    head(out, q.id);
    out << "<p><a href=\"index.html\">all requirements</a></p>\n<p class=\"" << css(req_status_key(q.status))
        << "\">" << req_status_name(q.status) << "</p>\n";
    if (q.requirement >= 0) {
        const Requirement& req = r.trace->requirements[static_cast<std::size_t>(q.requirement)];
        out << "<table><tr><th>title</th><td>" << h(req.title) << "</td></tr><tr><th>revision</th><td>"
            << (req.revision >= 0 ? std::to_string(req.revision) : "") << "</td></tr><tr><th>integrity level</th><td>"
            << h(req.level) << "</td></tr><tr><th>text</th><td>" << h(req.text) << "</td></tr><tr><th>text hash</th><td>"
            << h(req.text_sha256) << "</td></tr><tr><th>from</th><td>" << h(req.file)
            << (req.line ? ":" + std::to_string(req.line) : "") << "</td></tr></table>\n";
    } else {
        out << "<p>Not in the requirement set.</p>\n";
    }
    for (const auto& why : q.suspect)
        out << "<p class=\"suspect\">suspect: " << h(why.text) << "</p>\n";
    out << "<h2>Cases</h2>\n<table><tr><th>case</th><th>verdict</th><th>verifies</th><th>technique</th>"
           "<th>description</th></tr>\n";
    for (std::size_t c : q.cases) {
        const CaseLink& l = r.trace->links[c];
        out << "<tr><td>" << h(r.cases[c].suite + ":" + std::to_string(r.cases[c].line) + " " + r.cases[c].name)
            << "</td><td class=\"" << css(verdict_name(r.cases[c].verdict)) << "\">" << verdict_name(r.cases[c].verdict)
            << "</td><td>" << verifies_name(l.verifies) << "</td><td>" << h(l.technique) << "</td><td>"
            << h(l.description) << "</td></tr>\n";
    }
    out << "</table>\n";
    if (s.goals_known) {
        out << "<h2>Goals its cases reached (" << q.goals.size()
            << ")</h2>\n<table><tr><th>goal</th><th>criterion</th><th>where</th><th>function</th><th>meaning</th></tr>\n";
        for (std::size_t g : q.goals)
            out << goal_row(r.goals[g]);
        out << "</table>\n";
    }
    out << "</body></html>\n";
}

}  // namespace

void write_trace_html(const Result& r, const TraceSummary& s, const std::string& dir) {
    std::vector<std::size_t> columns;
    std::vector<bool> linked(r.cases.size());
    for (const auto& q : s.requirements)
        for (std::size_t c : q.cases)
            linked[c] = true;
    for (std::size_t c = 0; c < linked.size(); ++c)
        if (linked[c]) columns.push_back(c);
    write_report_folder("--trace-html", dir, [&](const std::string& fresh) {
        for (std::size_t k = 0; k < s.requirements.size(); ++k)
            write_report_file(fresh + "/" + page(k),
                              [&](std::ostream& out) { requirement_page(r, s, s.requirements[k], out); });
        write_report_file(fresh + "/index.html", [&](std::ostream& out) { index_page(r, s, columns, out); });
    });
}

}  // namespace kiv
