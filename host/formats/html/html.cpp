// The HTML report: an index of coverage per criterion, per file and per
// function, and a page per source file (page.cpp). Self-contained (inline
// style and a few lines of script, no assets), so it opens from file:// and in
// a CI artifact viewer.
#include "formats/html/page.h"

#include "error.h"
#include "formats/report_files.h"
#include "formats/report_folder.h"
#include "formats/writers.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <vector>

namespace kiv {

namespace html {

namespace {

// Colours and signs of the line states: covered, partly covered, missed,
// justified; the sign column carries the state in black and white.
const char* kStyle = R"(body{font:14px/1.4 sans-serif;margin:0 1.5em 2em;color:#222}
h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.5em}a{color:#1a55a0}
table{border-collapse:collapse}td,th{padding:2px 8px;text-align:left;vertical-align:top}
.summary td,.summary th{border-bottom:1px solid #ddd}.num{text-align:right}.meta{color:#555}.note{color:#a02020}
.bar{position:sticky;top:0;z-index:2;background:#fff;padding:6px 0;border-bottom:1px solid #ccc}
.legend span{padding:0 4px;margin-left:4px}
.src{font:12px/1.4 monospace;width:100%}.src td{padding:0 6px}.src .n,.src .k{color:#666;text-align:right;width:3em}
.src .n a{color:inherit;text-decoration:none}.src .s{width:1.2em;text-align:center}.src .g{width:4.5em;white-space:nowrap}
.src .c{white-space:pre-wrap;width:100%}tr:target td{outline:1px solid #1a55a0}
.s-covered .c,.legend .s-covered{background:#dff3d8}.s-partly .c,.legend .s-partly{background:#fbf0c4}
.s-missed .c,.legend .s-missed{background:#f8d3d3}.s-justified .c,.legend .s-justified{background:#e4e4ef}
.s-covered .s{color:#2a7a2a}.s-partly .s{color:#8a6a00}.s-missed .s{color:#b02020}.s-justified .s{color:#555}
details summary{cursor:pointer}.g details{position:relative}.g summary{font-size:11px;color:#333}
.g ul{position:absolute;left:3.5em;top:0;z-index:1;margin:0;padding:4px 8px;list-style:none;width:60em;max-width:70vw;
background:#fff;border:1px solid #999;box-shadow:2px 2px 6px #aaa;font:12px/1.4 sans-serif;white-space:normal}
.goal{display:block;border-left:4px solid;padding:0 4px;margin:2px 0}.goal.reached{border-color:#3a8f3a}
.goal.justified{border-color:#777}.goal.missed{border-color:#c03030}.goal b{font-weight:600}
.missed-list ol{font-size:13px}
@media print{.bar{position:static}.g ul{position:static;width:auto;box-shadow:none}})";

}  // namespace

const char* const kSummaryHead =
    "<th class=\"num\">reached</th><th class=\"num\">justified</th><th class=\"num\">missed</th><th "
    "class=\"num\">goals</th><th class=\"num\">reached</th><th class=\"num\">covered</th>";

std::string page_of(const std::string& file) {
    std::string s = file;
    for (char& c : s)
        if (c == '/' || c == '\\' || c == '%') c = '_';  // '%': a link would read it as an escape
    return s + ".html";
}

void page_head(std::ostream& out, const std::string& title) {
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" << xml_text(title)
        << "</title>\n<style>" << kStyle << "</style></head><body>\n";
}

std::string summary_cells(const Tally& t) {
    const auto pct = [&](std::size_t n) {
        return percent_text(t.total ? 100.0 * double(n) / double(t.total) : 100.0);
    };
    return "<td class=\"num\">" + std::to_string(t.reached) + "</td><td class=\"num\">" + std::to_string(t.justified) +
           "</td><td class=\"num\">" + std::to_string(t.total - t.reached - t.justified) + "</td><td class=\"num\">" +
           std::to_string(t.total) + "</td><td class=\"num\">" + pct(t.reached) + "%</td><td class=\"num\">" +
           pct(t.reached + t.justified) + "%</td>";
}

std::string LineRate::text() const {
    return std::to_string(hit) + "/" + std::to_string(lines) + " (" +
           percent_text(lines ? 100.0 * double(hit) / double(lines) : 100.0) + "%)";
}

}  // namespace html

namespace {

namespace fs = std::filesystem;
using html::page_of;

void index_page(const Result& r, const Summary& s, const std::vector<FileGoals>& files, std::ostream& out) {
    html::page_head(out, "kivrun coverage");
    out << "<h1>Coverage on the source</h1>\n<p class=\"meta\">" << xml_text(r.run.library) << " \xC2\xB7 ";
    for (const auto& suite : r.run.suites) out << xml_text(suite) << " ";
    out << "\xC2\xB7 started " << xml_text(r.run.started) << " \xC2\xB7 " << count(s.cases(), "case", "cases") << ": "
        << s.passed << " passed, " << s.failed << " failed, " << s.crashed << " crashed, " << s.timed_out
        << " timed out" << (s.not_run ? ", " + std::to_string(s.not_run) + " not run" : "") << "</p>\n";
    out << "<h2>Per criterion</h2>\n<table class=\"summary\">\n<tr><th>criterion</th>" << html::kSummaryHead
        << "</tr>\n";
    for (const CoverageRow& c : s.criteria)
        out << "<tr class=\"criterion\" data-criterion=\"" << xml_text(c.criterion) << "\" data-reached=\""
            << c.reached << "\" data-justified=\"" << c.justified << "\" data-total=\"" << c.total << "\"><td>"
            << xml_text(c.criterion) << "</td>" << html::summary_cells({c.reached, c.justified, c.total}) << "</tr>\n";
    out << "<tr class=\"total\"><th>total</th>"
        << html::summary_cells({s.total.reached, s.total.justified, s.total.total}) << "</tr>\n</table>\n";
    out << "<p class=\"verdicts\">Goals: " << s.total.reached << " reached, " << s.total.proven << " proven unreachable, "
        << s.total.justified - s.total.proven << " justified by hand, " << s.total.unknown() << " unknown</p>\n";

    out << "<h2>Per file</h2>\n<table class=\"summary\">\n<tr><th>file</th><th class=\"num\">lines</th>"
        << html::kSummaryHead << "</tr>\n";
    for (const FileGoals& f : files) {
        html::LineRate lines;
        for (const LineHits& l : line_hits(r, f)) lines.add(l);
        html::Tally t;
        for (std::size_t g : f.goals) t.add(r.goals[g]);
        out << "<tr><td><a href=\"" << xml_text(page_of(f.file)) << "\">" << xml_text(f.file)
            << "</a></td><td class=\"num\">" << lines.text() << "</td>" << html::summary_cells(t) << "</tr>\n";
    }
    out << "</table>\n<h2>Per function</h2>\n<table class=\"summary\">\n<tr><th>function</th>" << html::kSummaryHead
        << "</tr>\n";
    for (const FileGoals& f : files) {
        std::map<std::string, html::Tally> per;
        std::map<std::string, int32_t> entry;
        for (std::size_t g : f.goals) {
            const GoalResult& goal = r.goals[g];
            per[goal.function].add(goal);
            if (!entry.count(goal.function) || goal.criterion == "function") entry[goal.function] = goal.line;
        }
        for (const auto& [fn, t] : per)
            out << "<tr><td><a href=\"" << xml_text(page_of(f.file)) << "#L" << entry[fn] << "\">" << xml_text(fn)
                << "</a> <span class=\"meta\">" << xml_text(f.file) << "</span></td>" << html::summary_cells(t)
                << "</tr>\n";
    }
    out << "</table>\n</body></html>\n";
}

std::vector<std::string> source_lines(const std::string& path, bool& found) {
    std::ifstream in(path);
    found = static_cast<bool>(in);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

void write_html(const Result& result, const Summary& summary, const std::string& dir, const std::string& source_root) {
    const std::vector<FileGoals> files = goals_by_file(result);
    // Every source is read, and every goal and covered line placed within it,
    // before anything is written. A position beyond the end of its file means
    // the source is not the one that was run: that page lists its goals by
    // line without the code, the other pages are written, and the report then
    // fails naming the file and the line.
    struct Shown {
        std::vector<std::string> code;
        std::string note;
    };
    std::vector<Shown> shown(files.size());
    std::string misplaced;
    for (std::size_t i = 0; i < files.size(); ++i) {
        Shown& s = shown[i];
        const std::string path = source_path(source_root, files[i].file);
        bool found = false;
        s.code = source_lines(path, found);
        if (!found) {
            s.note = "The source is not at " + path + "; goals are listed by line without it (see --source-root).";
            continue;
        }
        int32_t beyond = 0;
        std::string goal;
        for (std::size_t g : files[i].goals) {
            const GoalResult& gr = result.goals[g];
            int32_t last = gr.line;
            for (const auto& range : gr.lines) last = std::max(last, range.second);
            if (last > beyond) beyond = last, goal = gr.name();
        }
        if (beyond <= static_cast<int32_t>(s.code.size())) continue;
        const std::string why = files[i].file + ":" + std::to_string(beyond) + ": goal " + goal + " lies at line " +
                                std::to_string(beyond) + ", but " + path + " has " + std::to_string(s.code.size()) +
                                " lines: not the source that was run (see --source-root)";
        misplaced += (misplaced.empty() ? "" : "\n") + why;
        s.note = why + "; goals are listed by line without the code.";
        s.code.clear();
    }
    write_report_folder("--html", dir, [&](const std::string& folder) {
        const fs::path fresh(folder);
        for (std::size_t i = 0; i < files.size(); ++i)
            write_report_file((fresh / page_of(files[i].file)).string(), [&](std::ostream& out) {
                html::source_page(result, files[i], shown[i].code, shown[i].note, out);
            });
        write_report_file((fresh / "index.html").string(),
                          [&](std::ostream& out) { index_page(result, summary, files, out); });
    });
    if (!misplaced.empty()) throw Error("--html " + dir + ": " + misplaced);
}

}  // namespace kiv
