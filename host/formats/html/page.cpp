// The source page of the HTML report: the code as one listing, each line with
// its number, its count as the lcov file gives it, its state by colour and by
// a sign (so a black-and-white print keeps it), and a marker that opens the
// goals standing on it, missed ones first.
#include "formats/html/page.h"

#include "catalog/catalog.h"
#include "formats/writers.h"

#include <algorithm>
#include <map>

namespace kiv::html {

namespace {

enum class State { none, covered, partly, missed, justified };

const char* state_name(State s) {
    switch (s) {
    case State::covered: return "covered";
    case State::partly: return "partly";
    case State::missed: return "missed";
    case State::justified: return "justified";
    case State::none: break;
    }
    return "none";
}

// The sign beside each line: the state without its colour.
const char* sign(State s) {
    switch (s) {
    case State::covered: return "\xE2\x9C\x93";    // ✓
    case State::partly: return "\xE2\x97\x90";     // ◐
    case State::missed: return "\xE2\x9C\x97";     // ✗
    case State::justified: return "\xC2\xA7";      // §
    case State::none: break;
    }
    return "";
}

// What reaching the goal shows, in a word or two.
std::string outcome(const GoalResult& g) { return goal_outcome(g.kind, g.field); }

int rank(const GoalResult& g) { return g.reached() ? 2 : g.justification ? 1 : 0; }
const char* goal_state(const GoalResult& g) { return g.reached() ? "reached" : g.justification ? "justified" : "missed"; }

std::string css_name(const std::string& criterion) {
    std::string s = criterion;
    std::replace(s.begin(), s.end(), ' ', '-');
    return s;
}

// One goal behind a line's marker: what it is, and who reached it or why it
// cannot be.
std::string goal_item(const Result& r, const GoalResult& g) {
    std::string detail;
    if (g.reached()) {
        const CaseResult& c = r.cases.at(static_cast<std::size_t>(g.first_case));
        detail = "first reached by case " + c.name + ", " + step_where(c, g.first_step);
    } else if (g.justification) {
        detail = (g.justification->proven() ? "proven unreachable (" + g.justification->method + "): "
                                             : std::string("justified: ")) + g.justification->reason;
    } else {
        detail = g.unsettled ? "not reached, unknown: " + unsettled_text(*g.unsettled) : "not reached";
    }
    return "<li><span class=\"goal " + std::string(goal_state(g)) + " c-" + css_name(g.criterion) +
           "\" data-goal=\"" + xml_text(g.name()) + "\"><b>" + xml_text(g.criterion + " " + outcome(g)) + "</b> " +
           xml_text(g.meaning) + " <span class=\"meta\">" + xml_text(g.name() + " \xC2\xB7 " + detail) +
           "</span></span></li>";
}

struct Line {
    const LineHits* hits = nullptr;
    std::vector<std::size_t> goals;  // missed first, then justified, then reached
    std::size_t open = 0;            // missed goals
    State state = State::none;
};

State state_of(const Result& r, const Line& l) {
    std::size_t reached = 0;
    for (std::size_t g : l.goals) reached += r.goals[g].reached();
    if (!l.hits && l.goals.empty()) return State::none;
    if ((l.hits && l.hits->hits) || reached) return l.open ? State::partly : State::covered;
    if (l.open) return State::missed;
    if (!l.goals.empty()) return State::justified;
    return l.hits->justified ? State::justified : State::missed;
}

const char* kScript = R"(<script>
(function(){var rows=[].slice.call(document.querySelectorAll('tr.s-missed,tr.s-partly')),at=-1;
function go(d){if(!rows.length)return;var y=location.hash?document.getElementById(location.hash.slice(1)):null;
if(y&&rows.indexOf(y)>=0)at=rows.indexOf(y);at=(at+d+rows.length)%rows.length;location.hash='#'+rows[at].id;}
document.addEventListener('keydown',function(e){if(e.ctrlKey||e.metaKey||e.altKey||/INPUT|TEXTAREA/.test(e.target.tagName))return;
if(e.key==='n')go(1);else if(e.key==='p')go(-1);});})();
</script>)";

void summaries(const Result& r, const FileGoals& f, const std::vector<LineHits>& hits, std::ostream& out) {
    std::vector<std::string> criteria;
    for (const std::string& c : criterion_order())
        for (std::size_t g : f.goals)
            if (r.goals[g].criterion == c) {
                criteria.push_back(c);
                break;
            }
    struct Of {
        int32_t entry = 0;
        LineRate lines;
        std::map<std::string, Tally> goals;
    };
    Of file;
    std::map<std::string, Of> functions;
    for (std::size_t g : f.goals) {
        const GoalResult& goal = r.goals[g];
        Of& fn = functions[goal.function];
        if (!fn.entry || goal.criterion == "function") fn.entry = goal.line;
        fn.goals[goal.criterion].add(goal);
        file.goals[goal.criterion].add(goal);
    }
    for (const LineHits& l : hits) {
        file.lines.add(l);
        functions[l.function].lines.add(l);
    }
    out << "<table class=\"summary\"><tr><th></th><th>lines</th>";
    for (const auto& c : criteria) out << "<th>" << xml_text(c) << "</th>";
    out << "</tr>\n";
    const auto row = [&](const std::string& name, const Of& of) {
        out << "<td class=\"num\">" << of.lines.text() << "</td>";
        for (const auto& c : criteria) {
            auto t = of.goals.find(c);
            if (t == of.goals.end()) {
                out << "<td></td>";
                continue;
            }
            out << "<td class=\"num\" title=\"" << xml_text(name + ": " + std::to_string(t->second.justified) + " justified")
                << "\">" << t->second.reached + t->second.justified << "/" << t->second.total << "</td>";
        }
        out << "</tr>\n";
    };
    out << "<tr class=\"file\"><th>this file</th>";
    row(f.file, file);
    for (const auto& [name, of] : functions) {
        out << "<tr><td><a href=\"#L" << of.entry << "\">" << xml_text(name) << "</a></td>";
        row(name, of);
    }
    out << "</table>\n";
}

}  // namespace

void source_page(const Result& r, const FileGoals& f, const std::vector<std::string>& code, const std::string& note,
                 std::ostream& out) {
    const std::vector<LineHits> hits = line_hits(r, f);
    std::map<int32_t, Line> lines;
    for (const LineHits& l : hits) lines[l.line].hits = &l;
    for (std::size_t g : f.goals) lines[r.goals[g].line].goals.push_back(g);
    std::vector<std::pair<int32_t, std::size_t>> missed;  // line, goal
    for (auto& [n, l] : lines) {
        std::stable_sort(l.goals.begin(), l.goals.end(),
                         [&](std::size_t a, std::size_t b) { return rank(r.goals[a]) < rank(r.goals[b]); });
        for (std::size_t g : l.goals)
            if (!rank(r.goals[g])) ++l.open, missed.emplace_back(n, g);
        l.state = state_of(r, l);
    }

    page_head(out, f.file);
    out << "<div class=\"bar\"><a href=\"index.html\">index</a> \xC2\xB7 <b>" << xml_text(f.file) << "</b> \xC2\xB7 "
        << count(missed.size(), "missed goal", "missed goals")
        << " \xC2\xB7 <span class=\"meta\">keys n / p: next / previous missed line</span>"
        << " \xC2\xB7 <span class=\"legend\"><span class=\"s-covered\">\xE2\x9C\x93 covered</span> <span "
           "class=\"s-partly\">\xE2\x97\x90 partly</span> <span class=\"s-missed\">\xE2\x9C\x97 missed</span> <span "
           "class=\"s-justified\">\xC2\xA7 justified</span></span></div>\n";
    summaries(r, f, hits, out);
    if (!missed.empty()) {
        out << "<details class=\"missed-list\"><summary>" << count(missed.size(), "missed goal", "missed goals")
            << "</summary><ol>\n";
        for (const auto& [n, g] : missed)
            out << "<li><a href=\"#L" << n << "\">line " << n << "</a> <b>"
                << xml_text(r.goals[g].criterion + " " + outcome(r.goals[g])) << "</b> " << xml_text(r.goals[g].meaning)
                << "</li>\n";
        out << "</ol></details>\n";
    }
    if (!note.empty()) out << "<p class=\"note\">" << xml_text(note) << "</p>\n";
    // Rows are the source's lines, or without the source the lines the goals
    // name: never a line count taken from the result itself.
    std::vector<int32_t> rows;
    if (!code.empty())
        for (std::size_t n = 1; n <= code.size(); ++n) rows.push_back(static_cast<int32_t>(n));
    else
        for (const auto& [n, l] : lines) rows.push_back(n);
    out << "<table class=\"src\">\n";
    for (const int32_t n : rows) {
        auto it = lines.find(n);
        const Line none;
        const Line& l = it == lines.end() ? none : it->second;
        out << "<tr id=\"L" << n << "\" class=\"s-" << state_name(l.state) << "\"><td class=\"n\"><a href=\"#L" << n
            << "\">" << n << "</a></td><td class=\"k\">";
        if (l.hits) out << l.hits->hits;
        out << "</td><td class=\"s\">" << sign(l.state) << "</td><td class=\"g\">";
        if (!l.goals.empty()) {
            out << "<details><summary>" << l.goals.size() - l.open << "/" << l.goals.size() << "</summary><ul>";
            for (std::size_t g : l.goals) out << goal_item(r, r.goals[g]);
            out << "</ul></details>";
        }
        out << "</td><td class=\"c\">"
            << xml_text(static_cast<std::size_t>(n) <= code.size() ? code[static_cast<std::size_t>(n) - 1] : "")
            << "</td></tr>\n";
    }
    out << "</table>\n" << kScript << "\n</body></html>\n";
}

}  // namespace kiv::html
