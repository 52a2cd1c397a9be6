// The HTML report: an index of coverage per criterion and per function, and a
// page per source file with a mark for every goal on its line. Self-contained
// (inline style and a few lines of script, no assets), so it opens from file://.
#include "formats/source.h"

#include "error.h"
#include "formats/report_files.h"
#include "formats/writers.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <vector>

namespace kiv {

namespace {

namespace fs = std::filesystem;

const char* kStyle = R"(body{font:14px/1.4 sans-serif;margin:0 1.5em 2em;color:#222}
h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.5em}
table{border-collapse:collapse}td,th{padding:2px 8px;text-align:left;vertical-align:top}
.summary td,.summary th{border-bottom:1px solid #ddd}.num{text-align:right}
.src{width:100%;font:12px/1.35 monospace}.src td{padding:0 6px}.src .n{color:#888;text-align:right;width:3em}
.src .n a{color:inherit;text-decoration:none}.src pre{margin:0;white-space:pre-wrap}
.src tr.missed-line .n{background:#f6c7c7}.src tr.has-goals .n{background:#e4f1dd}
.marks{width:42%}.goal{display:block;border-left:4px solid;padding:0 4px;margin:1px 0;font:11px sans-serif}
.goal.reached{border-color:#3a8f3a;background:#eef8ea}.goal.justified{border-color:#a08a2a;background:#faf5df}
.goal.missed{border-color:#c03030;background:#fbe9e9}.goal.current{outline:2px solid #c03030}
.goal b{font-weight:600}.bar{position:sticky;top:0;background:#fff;padding:6px 0;border-bottom:1px solid #ccc}
.bar label{margin-right:10px}.meta{color:#555})";

// Hides a criterion's marks when its box is unticked; steps through the missed
// marks that are still shown.
const char* kScript = R"(<script>
document.querySelectorAll('input[data-criterion]').forEach(function(box){
  box.addEventListener('change',function(){document.body.classList.toggle('hide-'+box.dataset.criterion,!box.checked);});});
var current=-1;
function nextMissed(step){
  var shown=[].filter.call(document.querySelectorAll('.goal.missed'),function(m){return m.offsetParent!==null;});
  if(!shown.length)return false;
  document.querySelectorAll('.goal.current').forEach(function(m){m.classList.remove('current');});
  current=(current+step+shown.length)%shown.length;
  shown[current].classList.add('current');shown[current].scrollIntoView({block:'center'});return false;}
</script>)";

std::string css_name(const std::string& criterion) {
    std::string s = criterion;
    for (char& c : s)
        if (c == ' ') c = '-';
    return s;
}

std::string page_of(const std::string& file) {
    std::string s = file;
    for (char& c : s)
        if (c == '/' || c == '\\') c = '_';
    return s + ".html";
}

// What reaching the goal shows, in a word or two.
std::string outcome(const GoalResult& g) {
    static const std::map<std::string, std::string> words = {
        {"hitCount", "ran"}, {"falseSeen", "false"},    {"trueSeen", "true"},      {"oneBelow", "one below"},
        {"equal", "equal"},  {"oneAbove", "one above"}, {"belowMin", "below min"}, {"aboveMax", "above max"}};
    auto it = words.find(g.field);
    if (it != words.end()) return it->second;
    return g.kind == "DCF" ? "called" : "entered";
}

const char* state_of(const GoalResult& g) {
    return g.reached() ? "reached" : g.justification ? "justified" : "missed";
}

std::string mark(const Result& r, const GoalResult& g, const std::string& id) {
    std::string detail;
    if (g.reached()) {
        const CaseResult& c = r.cases.at(static_cast<std::size_t>(g.first_case));
        detail = "case " + c.name + ", " + step_where(c, g.first_step);
    } else if (g.justification) {
        detail = (g.justification->proven() ? "proven unreachable (" + g.justification->method + "): "
                                             : std::string("justified: ")) + g.justification->reason;
    } else {
        detail = "missed: " + g.meaning;
    }
    return "<span class=\"goal " + std::string(state_of(g)) + " c-" + css_name(g.criterion) + "\"" +
           (id.empty() ? "" : " id=\"" + id + "\"") + " data-goal=\"" + xml_text(g.name()) + "\"><b>" +
           xml_text(g.criterion + " " + outcome(g)) + "</b> " + xml_text(g.name()) + " · " +
           xml_text(detail) + "</span>";
}

std::vector<std::string> source_lines(const std::string& path, bool& found) {
    std::ifstream in(path);
    found = static_cast<bool>(in);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void page_head(std::ostream& out, const std::string& title, const std::set<std::string>& criteria) {
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" << xml_text(title)
        << "</title>\n<style>" << kStyle << "\n";
    for (const auto& c : criteria)
        out << "body.hide-" << css_name(c) << " .c-" << css_name(c) << "{display:none}\n";
    out << "</style></head><body>\n";
}

void file_page(const Result& r, const FileGoals& f, const std::string& path, const std::vector<std::string>& code,
               bool found, std::ostream& out) {
    std::set<std::string> criteria;
    std::map<int32_t, std::vector<std::size_t>> on_line;
    std::size_t missed = 0;
    for (std::size_t g : f.goals) {
        criteria.insert(r.goals[g].criterion);
        on_line[r.goals[g].line].push_back(g);
        if (!std::strcmp(state_of(r.goals[g]), "missed")) ++missed;
    }
    page_head(out, f.file, criteria);
    out << "<div class=\"bar\"><a href=\"index.html\">index</a> · <b>" << xml_text(f.file) << "</b> · show: ";
    for (const auto& c : criteria)
        out << "<label><input type=\"checkbox\" checked data-criterion=\"" << css_name(c) << "\"> " << xml_text(c)
            << "</label>";
    out << " · " << count(missed, "missed goal", "missed goals");
    if (missed)
        out << " <a href=\"#miss-1\" onclick=\"return nextMissed(-1)\">‹ previous</a> <a href=\"#miss-1\" "
               "onclick=\"return nextMissed(1)\">next ›</a>";
    out << "</div>\n";
    if (!found)
        out << "<p class=\"meta\">The source is not at " << xml_text(path)
            << "; goals are listed by line without it (see --source-root).</p>\n";
    // Rows are the source's lines, or without the source the goals' lines only:
    // never a count taken from the result itself.
    std::vector<int32_t> rows;
    if (found)
        for (std::size_t n = 1; n <= code.size(); ++n)
            rows.push_back(static_cast<int32_t>(n));
    else
        for (const auto& [n, goals] : on_line)
            rows.push_back(n);
    std::size_t k = 0;
    out << "<table class=\"src\">\n";
    for (const int32_t n : rows) {
        auto goals = on_line.find(n);
        const bool has = goals != on_line.end();
        bool line_missed = false;
        std::string marks;
        if (has)
            for (std::size_t g : goals->second) {
                const bool m = !std::strcmp(state_of(r.goals[g]), "missed");
                line_missed = line_missed || m;
                marks += mark(r, r.goals[g], m ? "miss-" + std::to_string(++k) : "");
            }
        out << "<tr id=\"L" << n << "\""
            << (line_missed ? " class=\"missed-line\""
                : has       ? " class=\"has-goals\""
                            : "")
            << "><td class=\"n\"><a href=\"#L" << n << "\">" << n << "</a></td><td><pre>"
            << xml_text(found ? code[static_cast<std::size_t>(n) - 1] : "")
            << "</pre></td><td class=\"marks\">" << marks << "</td></tr>\n";
    }
    out << "</table>\n" << kScript << "\n</body></html>\n";
}

std::string row(std::size_t reached, std::size_t justified, std::size_t total) {
    const auto pct = [&](std::size_t n) { return percent_text(total ? 100.0 * double(n) / double(total) : 100.0); };
    return "<td class=\"num\">" + std::to_string(reached) + "</td><td class=\"num\">" + std::to_string(justified) +
           "</td><td class=\"num\">" + std::to_string(total - reached - justified) + "</td><td class=\"num\">" +
           std::to_string(total) + "</td><td class=\"num\">" + pct(reached) + "%</td><td class=\"num\">" +
           pct(reached + justified) + "%</td>";
}

void index_page(const Result& r, const Summary& s, const std::vector<FileGoals>& files, std::ostream& out) {
    page_head(out, "kivrun coverage", {});
    out << "<h1>Coverage on the source</h1>\n<p class=\"meta\">" << xml_text(r.run.library) << " · ";
    for (const auto& suite : r.run.suites)
        out << xml_text(suite) << " ";
    out << "· started " << xml_text(r.run.started) << " · " << count(s.cases(), "case", "cases") << ": "
        << s.passed << " passed, " << s.failed << " failed, " << s.crashed << " crashed, " << s.timed_out
        << " timed out" << (s.not_run ? ", " + std::to_string(s.not_run) + " not run" : "") << "</p>\n";
    const char* head =
        "<tr><th>%s</th><th class=\"num\">reached</th><th class=\"num\">justified</th><th "
        "class=\"num\">missed</th><th class=\"num\">goals</th><th class=\"num\">reached</th><th "
        "class=\"num\">covered</th></tr>\n";
    auto header = [&](const char* first) { out << std::string(head).replace(std::string(head).find("%s"), 2, first); };
    out << "<h2>Per criterion</h2>\n<table class=\"summary\">\n";
    header("criterion");
    for (const CoverageRow& c : s.criteria)
        out << "<tr class=\"criterion\" data-criterion=\"" << xml_text(c.criterion) << "\" data-reached=\""
            << c.reached << "\" data-justified=\"" << c.justified << "\" data-total=\"" << c.total << "\"><td>"
            << xml_text(c.criterion) << "</td>" << row(c.reached, c.justified, c.total) << "</tr>\n";
    out << "<tr class=\"total\"><th>total</th>" << row(s.total.reached, s.total.justified, s.total.total)
        << "</tr>\n</table>\n";
    out << "<p class=\"verdicts\">Goals: " << s.total.reached << " reached, " << s.total.proven << " proven unreachable, "
        << s.total.justified - s.total.proven << " justified by hand, " << s.total.unknown() << " unknown</p>\n";

    out << "<h2>Per function</h2>\n<table class=\"summary\">\n";
    header("function");
    for (const FileGoals& f : files) {
        std::map<std::string, std::array<std::size_t, 3>> per;  // reached, justified, total
        std::map<std::string, int32_t> entry;
        for (std::size_t g : f.goals) {
            const GoalResult& goal = r.goals[g];
            auto& t = per[goal.function];
            t[0] += goal.reached();
            t[1] += !goal.reached() && goal.justification;
            ++t[2];
            if (!entry.count(goal.function) || goal.criterion == "function") entry[goal.function] = goal.line;
        }
        for (const auto& [fn, t] : per)
            out << "<tr><td><a href=\"" << xml_text(page_of(f.file)) << "#L" << entry[fn] << "\">"
                << xml_text(fn) << "</a> <span class=\"meta\">" << xml_text(f.file) << "</span></td>"
                << row(t[0], t[1], t[2]) << "</tr>\n";
    }
    out << "</table>\n<h2>Files</h2>\n<ul>\n";
    for (const FileGoals& f : files)
        out << "<li><a href=\"" << xml_text(page_of(f.file)) << "\">" << xml_text(f.file) << "</a> ("
            << count(f.goals.size(), "goal", "goals") << ")</li>\n";
    out << "</ul>\n</body></html>\n";
}

// Removes the folders a killed run left beside `final_dir` (FINAL.tmpPID,
// FINAL.oldPID): those of a process no longer alive that hold the marker or
// nothing. A live run's, or one holding anything else, is left alone.
void remove_stale_folders(const fs::path& final_dir) {
    const std::string name = final_dir.filename().string();
    std::error_code ec;
    const fs::path parent = final_dir.has_parent_path() ? final_dir.parent_path() : fs::path(".");
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.size() <= name.size() + 4 || entry.compare(0, name.size(), name) != 0) continue;
        const std::string tag = entry.substr(name.size(), 4);
        const std::string digits = entry.substr(name.size() + 4);
        if ((tag != ".tmp" && tag != ".old") || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        if (pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH) continue;
        std::error_code fe;
        if (!fs::is_directory(it->symlink_status(fe))) continue;
        if (fs::exists(it->path() / kReportMarker, fe) || fs::is_empty(it->path(), fe)) stale.push_back(it->path());
    }
    for (const auto& p : stale)
        fs::remove_all(p, ec);
}

}  // namespace

void write_html(const Result& result, const Summary& summary, const std::string& dir, const std::string& source_root) {
    const std::vector<FileGoals> files = goals_by_file(result);
    // Every source is read, and every goal placed within it, before anything is
    // written: a goal beyond the end of its file means the source is not the one
    // that was run, and its page would mark the wrong lines.
    struct Shown {
        std::string path;
        std::vector<std::string> code;
        bool found = false;
    };
    std::vector<Shown> shown(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        Shown& s = shown[i];
        s.path = source_path(source_root, files[i].file);
        s.code = source_lines(s.path, s.found);
        if (!s.found) continue;
        for (std::size_t g : files[i].goals) {
            const GoalResult& goal = result.goals[g];
            if (goal.line < 1 || static_cast<std::size_t>(goal.line) > s.code.size())
                throw Error("--html " + dir + ": goal " + goal.name() + " lies at line " + std::to_string(goal.line) +
                            " of " + files[i].file + ", but " + s.path + " has " + std::to_string(s.code.size()) +
                            " lines: not the source that was run (see --source-root); nothing written");
        }
    }
    // The pages go to a new folder beside the old one, which is then exchanged
    // with it in one step: a reader sees the old pages or the new, never a mix,
    // and a failure leaves the old folder as it was.
    std::error_code ec;
    fs::path final_dir = fs::path(dir);
    if (fs::is_symlink(final_dir, ec)) {
        final_dir = fs::canonical(final_dir, ec);
        if (ec) throw Error("cannot write --html " + dir + ": " + ec.message());
    }
    if (!final_dir.has_filename()) final_dir = final_dir.parent_path();  // "out/"
    remove_stale_folders(final_dir);
    const fs::path fresh = final_dir.string() + ".tmp" + std::to_string(getpid());
    fs::remove_all(fresh, ec);
    fs::create_directories(fresh, ec);
    if (ec) throw Error("cannot write --html " + dir + ": " + ec.message());
    try {
        // The marker comes first, so that even a folder left by a killed run is
        // known as kivrun's and removed by the next.
        write_report_file((fresh / kReportMarker).string(),
                          [](std::ostream& out) { out << "A report kivrun wrote; the next --html here replaces it.\n"; });
        for (std::size_t i = 0; i < files.size(); ++i)
            write_report_file((fresh / page_of(files[i].file)).string(), [&](std::ostream& out) {
                file_page(result, files[i], shown[i].path, shown[i].code, shown[i].found, out);
            });
        write_report_file((fresh / "index.html").string(),
                          [&](std::ostream& out) { index_page(result, summary, files, out); });
        const bool exists = fs::exists(final_dir, ec);
        int swapped = exists ? renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, final_dir.c_str(), RENAME_EXCHANGE)
                             : std::rename(fresh.c_str(), final_dir.c_str());
        if (swapped != 0 && exists && (errno == EINVAL || errno == ENOSYS)) {
            // No exchange on this file system: the old folder steps aside first,
            // and comes back if the new one cannot take its place.
            const fs::path aside = final_dir.string() + ".old" + std::to_string(getpid());
            fs::remove_all(aside, ec);
            swapped = std::rename(final_dir.c_str(), aside.c_str());
            if (swapped == 0 && (swapped = std::rename(fresh.c_str(), final_dir.c_str())) != 0) {
                const int err = errno;
                std::rename(aside.c_str(), final_dir.c_str());
                errno = err;
            }
            if (swapped == 0) fs::remove_all(aside, ec);
        }
        if (swapped != 0) throw Error("cannot write --html " + dir + ": " + std::strerror(errno));
    } catch (...) {
        fs::remove_all(fresh, ec);
        throw;
    }
    fs::remove_all(fresh, ec);  // the old pages, now under the temporary name
}

}  // namespace kiv
