// Parsing justification files, with a located message for every problem.
#include "suite/justify.h"

#include "suite/csv.h"
#include "error.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <map>
#include <optional>

namespace kiv {

namespace {

enum class Heading { goal, reason, note, method, proof, tool };

std::optional<int64_t> parse_number(const std::string& s) {
    int64_t v = 0;
    const char* e = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), e, v);
    if (s.empty() || ec != std::errc() || p != e) return std::nullopt;
    return v;
}

// Reports print a reason on one line, so line breaks inside a quoted cell and
// runs of blanks become single spaces.
std::string one_line(std::string_view s) {
    std::string out;
    for (char c : s) {
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (!blank)
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

class JustificationParser : TableReader {
public:
    JustificationParser(const std::string& file, const Schema& schema, std::vector<Justification>& list)
        : TableReader(file), schema_(schema), list_(list) {
        for (const auto& j : list)
            seen_[j.goal] = j.file + ":" + std::to_string(j.line);
    }

    std::vector<Diagnostic> parse(const std::string& text) {
        CsvReader reader(text, file_, diags_);
        CsvRow r;
        if (read_header(reader, r, " 'goal' and 'reason'") && (header(r), goal_col_ >= 0 && reason_col_ >= 0)) {
            while (!full() && reader.next(r))
                if (!r.blank()) row(r);
        }
        if (diags_.empty()) list_.insert(list_.end(), out_.begin(), out_.end());
        return std::move(diags_);
    }

private:
    void header(const CsvRow& row) {
        std::map<Heading, int> taken;
        for (const auto& cell : row.cells) {
            const std::string h = ascii_lower(cell.text);
            Heading col = Heading::note;
            if (h == "goal")
                col = Heading::goal;
            else if (h == "reason")
                col = Heading::reason;
            else if (h == "method")
                col = Heading::method;
            else if (h == "proof")
                col = Heading::proof;
            else if (h == "tool")
                col = Heading::tool;
            else if (h != "note")
                error(row.line, cell.column,
                      (cell.text.empty() ? std::string("empty column header") : "unknown column '" + std::string(cell.text) + "'") +
                          "; expected goal, reason, note, method, proof or tool");
            if (col != Heading::note && !taken.emplace(col, cell.column).second)
                error(row.line, cell.column,
                      "column '" + std::string(cell.text) + "' repeats the column at column " + std::to_string(taken[col]));
            if (col == Heading::goal && goal_col_ < 0) goal_col_ = static_cast<int>(columns_);
            if (col == Heading::reason && reason_col_ < 0) reason_col_ = static_cast<int>(columns_);
            if (col == Heading::method || col == Heading::proof || col == Heading::tool) proof_cols_[col] = static_cast<int>(columns_);
            ++columns_;
        }
        if (goal_col_ < 0)
            error(row.line, 1, "no 'goal' column; expected one holding a goal's variable ID or name per row");
        if (reason_col_ < 0)
            error(row.line, 1, "no 'reason' column; expected one saying why each goal cannot be reached");
        header_line_ = row.line;
    }

    void row(const CsvRow& row) {
        for (std::size_t c = columns_; c < row.cells.size(); ++c)
            if (!row.cells[c].text.empty()) {
                error(row.line, row.cells[c].column,
                      "cell beyond the last column; the header on line " + std::to_string(header_line_) + " has " +
                          std::to_string(columns_) + " columns");
                return;
            }
        const CsvCell* goal_cell = cell_at(row, goal_col_);
        if (!goal_cell || goal_cell->text.empty()) {
            error(row.line, goal_cell ? goal_cell->column : 1, "no goal; expected " + goal_forms());
            return;
        }
        const bool mcdc = ascii_lower(goal_cell->text).rfind("mcdc:", 0) == 0;
        const auto goal = mcdc ? mcdc_condition(*goal_cell, row.line) : goal_of(*goal_cell, row.line);
        if (!goal) return;
        const CsvCell* reason_cell = cell_at(row, reason_col_);
        const std::string reason = reason_cell ? one_line(reason_cell->text) : "";
        if (reason.empty()) {
            error(row.line, reason_cell ? reason_cell->column : 1,
                  "empty reason for " + (mcdc ? std::string(goal_cell->text) : label(*goal)) +
                      "; expected text saying why no input can reach it");
            return;
        }
        if (mcdc) {  // its repeats are found once the condition is resolved
            const auto colon = goal_cell->text.find(':', 5);
            out_.push_back({SIZE_MAX, reason, file_, row.line, std::string(goal_cell->text.substr(5, colon - 5)),
                            std::string(goal_cell->text.substr(colon + 1)), goal_cell->column,
                            text_at(row, Heading::method), text_at(row, Heading::proof), text_at(row, Heading::tool)});
            return;
        }
        if (auto it = seen_.find(*goal); it != seen_.end()) {
            error(row.line, goal_cell->column,
                  label(*goal) + " is already justified at " + it->second +
                      "; expected each goal once across all justification files");
            return;
        }
        Justification j{*goal, reason, file_, row.line, "", "", goal_cell->column, text_at(row, Heading::method),
                        text_at(row, Heading::proof), text_at(row, Heading::tool)};
        if (j.method.empty() && (!j.proof.empty() || !j.tool.empty())) {
            error(row.line, goal_cell->column,
                  label(*goal) + " has a proof or tool but no method; expected the method the proof used, or neither");
            return;
        }
        out_.push_back(std::move(j));
        seen_[*goal] = file_ + ":" + std::to_string(row.line);
    }

    std::string text_at(const CsvRow& row, Heading h) const {
        const auto it = proof_cols_.find(h);
        const CsvCell* c = it == proof_cols_.end() ? nullptr : cell_at(row, it->second);
        return c ? one_line(c->text) : "";
    }

    const CsvCell* cell_at(const CsvRow& row, int c) const {
        return c >= 0 && c < static_cast<int>(row.cells.size()) ? &row.cells[c] : nullptr;
    }

    std::optional<std::size_t> goal_of(const CsvCell& cell, int line) {
        const auto& goals = schema_.goals;
        const std::string t(cell.text);
        if (auto id = parse_number(t)) {
            for (std::size_t g = 0; g < goals.size(); ++g)
                if (goals[g].id == *id) return g;
            error(line, cell.column, "'" + t + "' is not the variable ID of a goal; expected " + goal_forms());
            return std::nullopt;
        }
        const std::string l = ascii_lower(t);
        const auto n = l.rfind("kiv_g", 0) == 0 ? parse_number(l.substr(5)) : std::nullopt;
        if (n && !schema_.from_catalog) {
            error(line, cell.column,
                  "goal name '" + t + "' needs the catalog; expected the goal's variable ID without it");
            return std::nullopt;
        }
        if (n)
            for (std::size_t g = 0; g < goals.size(); ++g)
                if (goals[g].info && goals[g].info->goal == *n) return g;
        error(line, cell.column, "unknown goal '" + t + "'; expected " + goal_forms());
        return std::nullopt;
    }

    // Checks "MCDC:<decision>:<condition>" as far as the schema knows decisions.
    std::optional<std::size_t> mcdc_condition(const CsvCell& cell, int line) {
        const std::string t(cell.text);
        const auto colon = t.find(':', 5);
        if (colon == std::string::npos || colon == 5 || colon + 1 == t.size()) {
            error(line, cell.column,
                  "'" + t + "': expected MCDC:<decision record>:<condition index or record> for an MC/DC condition");
            return std::nullopt;
        }
        const std::string decision = t.substr(5, colon - 5);
        std::string example;
        for (const auto& g : schema_.goals)
            if (g.info && g.info->kind == "DC") {
                if (g.info->record == decision) return SIZE_MAX;
                if (example.empty()) example = " such as " + g.info->record;
            }
        error(line, cell.column,
              "'" + decision + "' is not a decision record" + (schema_.from_catalog ? "" : " known without the catalog") +
                  "; expected one" + example + " in MCDC:<decision record>:<condition index or record>");
        return std::nullopt;
    }

    std::string goal_forms() const {
        const auto& goals = schema_.goals;
        if (goals.empty()) return "a goal, but the library has none";
        int32_t lo = goals[0].id, hi = lo, first = INT32_MAX, last = 0;
        for (const auto& g : goals) {
            lo = std::min(lo, g.id), hi = std::max(hi, g.id);
            if (g.info) first = std::min(first, g.info->goal), last = std::max(last, g.info->goal);
        }
        std::string s = "a goal's variable ID (" + std::to_string(goals.size()) + " IDs from " + std::to_string(lo) +
                        " to " + std::to_string(hi) + ")";
        if (last) s += " or name (KIV_G" + std::to_string(first) + " to KIV_G" + std::to_string(last) + ")";
        return s;
    }

    std::string label(std::size_t g) const {
        const GoalSlot& slot = schema_.goals[g];
        const std::string id = "ID " + std::to_string(slot.id);
        return slot.info ? "KIV_G" + std::to_string(slot.info->goal) + " (" + id + ")" : id;
    }

    const Schema& schema_;
    std::vector<Justification>& list_;
    std::vector<Justification> out_;           // becomes part of list_ only when the file is clean
    std::map<std::size_t, std::string> seen_;  // goal -> file:line of its justification
    std::map<Heading, int> proof_cols_;        // method, proof, tool -> column
    std::size_t columns_ = 0;
    int goal_col_ = -1, reason_col_ = -1, header_line_ = 0;
};

}  // namespace

void parse_justifications(const std::string& file, const std::string& text, const Schema& schema,
                          std::vector<Justification>& list) {
    auto diags = JustificationParser(file, schema, list).parse(text);
    if (!diags.empty()) throw SuiteError(std::move(diags));
}

std::vector<Justification> load_justifications(const std::vector<std::string>& files, const Schema& schema) {
    std::vector<Justification> list;
    std::vector<Diagnostic> all;
    for (const auto& f : files) {
        const auto text = read_input_file(f, "justification file", "a header row naming 'goal' and 'reason'", all);
        if (!text) continue;
        try {
            parse_justifications(f, *text, schema, list);
        } catch (const SuiteError& e) {
            all.insert(all.end(), e.diagnostics.begin(), e.diagnostics.end());
        }
    }
    if (!all.empty()) throw SuiteError(std::move(all));
    return list;
}

}  // namespace kiv
