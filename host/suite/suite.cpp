// Parsing suite files into a Plan, with a located message for every problem.
#include "suite.h"

#include "csv.h"

#include <charconv>
#include <map>
#include <optional>

namespace kiv {

namespace {

enum class ColumnKind { case_name, scope, note, input, expect };

struct Column {
    ColumnKind kind;
    int slot = -1;  // input index or output slot
};

std::optional<int64_t> parse_int(const std::string& s) {
    const char* b = s.data();
    const char* e = b + s.size();
    if (b != e && *b == '+') ++b;
    int64_t v = 0;
    auto [p, ec] = std::from_chars(b, e, v);
    if (b == e || ec != std::errc() || p != e) return std::nullopt;
    return v;
}

class SuiteParser : TableReader {
public:
    SuiteParser(const std::string& file, const Schema& schema, const SuiteOptions& options, Plan& plan)
        : TableReader(file), schema_(schema), options_(options), plan_(plan), out_(plan) {
        for (std::size_t c = 0; c < plan.cases.size(); ++c)
            seen_[plan.cases[c].name] = c;
        file_index_ = static_cast<uint32_t>(out_.files.size());
        out_.files.push_back(file);
    }

    std::vector<Diagnostic> parse(const std::string& text) {
        std::vector<CsvRow> rows;
        std::size_t r = read_table(text, rows, ", with at least 'case' and 'scope'");
        if (r < rows.size() && (header(rows[r]), case_col_ >= 0 && scope_col_ >= 0)) {
            for (++r; r < rows.size() && !full(); ++r)
                if (!rows[r].blank()) step(rows[r]);
            if (current_case_ < 0 && diags_.empty()) error(rows.back().line, 1, "the suite has no steps");
        }
        if (diags_.empty()) plan_ = std::move(out_);
        return std::move(diags_);
    }

private:
    // Reads the column headings; rows are still checked after a bad heading,
    // as long as the case and scope columns exist.
    void header(const CsvRow& row) {
        std::map<std::string, int> taken;
        for (const auto& cell : row.cells) {
            Column col = classify(cell, row.line);
            if (col.kind == ColumnKind::case_name) case_col_ = static_cast<int>(columns_.size());
            if (col.kind == ColumnKind::scope) scope_col_ = static_cast<int>(columns_.size());
            std::string key = std::to_string(static_cast<int>(col.kind)) + ":" + std::to_string(col.slot);
            if (col.kind != ColumnKind::note && !cell.text.empty() && !taken.emplace(key, cell.column).second) {
                error(row.line, cell.column,
                      "column '" + cell.text + "' repeats the column at column " + std::to_string(taken[key]));
            }
            columns_.push_back(col);
        }
        if (case_col_ < 0) error(row.line, 1, "no 'case' column; every suite needs one to name its test cases");
        if (scope_col_ < 0) error(row.line, 1, "no 'scope' column; every suite needs one to select what a step runs");
        header_line_ = row.line;
    }

    Column classify(const CsvCell& cell, int line) {
        const std::string& h = cell.text;
        const std::string l = ascii_lower(h);
        if (l == "case") return {ColumnKind::case_name};
        if (l == "scope") return {ColumnKind::scope};
        if (l == "note" || l == "notes" || l == "comment") return {ColumnKind::note};
        if (l.rfind("expect ", 0) == 0) {
            std::string name = h.substr(7);
            name.erase(0, name.find_first_not_of(' '));
            for (std::size_t o = 0; o < schema_.outputs.size(); ++o)
                if (schema_.outputs[o].name == name || schema_.outputs[o].variable == name) {
                    if (schema_.outputs_resolved && !schema_.outputs[o].address) {
                        error(line, cell.column,
                              "output '" + name +
                                  "' cannot be checked: the library file has no "
                                  "symbol for " +
                                  schema_.outputs[o].variable + " (stripped?)");
                    }
                    return {ColumnKind::expect, static_cast<int>(o)};
                }
            error(line, cell.column, "unknown output '" + name + "'; expected " + output_names());
            return {ColumnKind::note};
        }
        if (auto id = parse_int(h)) {
            for (std::size_t i = 0; i < schema_.inputs.size(); ++i)
                if (schema_.inputs[i].id == *id) return {ColumnKind::input, static_cast<int>(i)};
            error(line, cell.column,
                  "'" + h + "' is not a writable variable ID of the library; expected one of " + input_ids());
            return {ColumnKind::note};
        }
        for (std::size_t i = 0; i < schema_.inputs.size(); ++i)
            if (schema_.inputs[i].name == h) return {ColumnKind::input, static_cast<int>(i)};
        if (h.empty())
            error(line, cell.column,
                  "empty column header; expected case, scope, note, an input ID or name, or "
                  "'expect <output>'");
        else
            error(line, cell.column,
                  "unknown column '" + h +
                      "'; expected case, scope, note, an input ID or name, "
                      "or 'expect <output>'");
        return {ColumnKind::note};
    }

    std::string output_names() const {
        std::string s;
        for (const auto& o : schema_.outputs)
            s += (s.empty() ? "" : ", ") + o.name;
        return s.empty() ? "none: the library offers no outputs" : "one of " + s;
    }

    std::string input_ids() const {
        std::string s;
        for (const auto& i : schema_.inputs)
            s += (s.empty() ? "" : ", ") + std::to_string(i.id);
        return s;
    }

    std::string scope_text(int32_t uid) const {
        for (const auto& s : schema_.scopes)
            if (s.uid == uid) return std::to_string(uid) + " (" + s.names.front() + ")";
        return std::to_string(uid);
    }

    std::optional<int32_t> scope_of(const CsvCell& cell, int line) {
        if (auto v = parse_int(cell.text)) {
            bool known = schema_.scopes.empty() && *v >= INT32_MIN && *v <= INT32_MAX;
            for (const auto& s : schema_.scopes)
                known |= s.uid == *v;
            if (known) return static_cast<int32_t>(*v);
        } else {
            for (const auto& s : schema_.scopes)
                for (const auto& n : s.names)
                    if (n == cell.text) return s.uid;
        }
        std::string all;
        for (const auto& s : schema_.scopes)
            all += (all.empty() ? "" : ", ") + scope_text(s.uid);
        error(line, cell.column,
              "unknown scope '" + cell.text + "'; expected " +
                  (all.empty() ? "a scope UID (an integer)" : "one of " + all));
        return std::nullopt;
    }

    const CsvCell* cell_at(const CsvRow& row, int c) const {
        return c >= 0 && c < static_cast<int>(row.cells.size()) ? &row.cells[c] : nullptr;
    }

    void step(const CsvRow& row) {
        for (std::size_t c = columns_.size(); c < row.cells.size(); ++c)
            if (!row.cells[c].text.empty()) {
                error(row.line, row.cells[c].column,
                      "cell beyond the last column; the header on line " + std::to_string(header_line_) + " has " +
                          std::to_string(columns_.size()) + " columns");
                return;
            }
        if (!start_case(row)) return;
        const CsvCell* sc = cell_at(row, scope_col_);
        int32_t scope = 0;
        if (sc && !sc->text.empty()) {
            auto s = scope_of(*sc, row.line);
            if (!s) return;
            scope = *s;
        } else if (case_steps_ > 0) {
            scope = last_scope_;
        } else {
            error(row.line, sc ? sc->column : 1,
                  "the first step of case '" + out_.cases.back().name + "' has no scope; expected a scope UID or name");
            return;
        }
        PlanStep st{scope, static_cast<uint32_t>(out_.inputs.size()),
                    0,     static_cast<uint32_t>(out_.expects.size()),
                    0,     row.line};
        for (std::size_t c = 0; c < columns_.size() && c < row.cells.size(); ++c) {
            const CsvCell& cell = row.cells[c];
            if (cell.text.empty()) continue;
            if (columns_[c].kind == ColumnKind::input) input(row.line, cell, columns_[c].slot, scope, st);
            if (columns_[c].kind == ColumnKind::expect) expect(row.line, cell, columns_[c].slot, scope, st);
        }
        out_.steps.push_back(st);
        ++out_.cases.back().n_steps;
        ++case_steps_;
        last_scope_ = scope;
    }

    bool start_case(const CsvRow& row) {
        const CsvCell* cc = cell_at(row, case_col_);
        if (!cc || cc->text.empty()) {
            if (current_case_ >= 0) return true;
            error(row.line, cc ? cc->column : 1, "step without a case; expected a case name in the 'case' column");
            return false;
        }
        if (current_case_ >= 0 && out_.cases[current_case_].name == cc->text) return true;
        if (auto it = seen_.find(cc->text); it != seen_.end()) {
            const PlanCase& first = out_.cases[it->second];
            error(row.line, cc->column,
                  "case '" + cc->text + "' was already defined at " + out_.files[first.file] + ":" +
                      std::to_string(first.line) +
                      "; expected a new case name (a case's steps stand in consecutive rows)");
            return false;
        }
        seen_[cc->text] = out_.cases.size();
        current_case_ = static_cast<int>(out_.cases.size());
        out_.cases.push_back({cc->text, file_index_, row.line, static_cast<uint32_t>(out_.steps.size()), 0});
        case_steps_ = 0;
        return true;
    }

    bool owned(int line, const CsvCell& cell, const std::string& what, int32_t owner, int32_t scope) {
        if (owner == 0 || owner == scope) return true;
        error(line, cell.column,
              what + " belongs to scope " + scope_text(owner) + ", not to this step's scope " + scope_text(scope) +
                  "; expected it only in steps of its own scope");
        return false;
    }

    void input(int line, const CsvCell& cell, int slot, int32_t scope, PlanStep& st) {
        const InputSlot& in = schema_.inputs[slot];
        if (!owned(line, cell, "input " + in.name, in.scope, scope)) return;
        const bool boolean = in.setter == Setter::boolean;
        const std::string range =
            boolean ? "0 or 1 (boolean input " + in.name + ")" : "an integer 0..255 (8-bit input " + in.name + ")";
        auto v = parse_int(cell.text);
        if (!v) {
            error(line, cell.column, "'" + cell.text + "' is not a number; expected " + range);
            return;
        }
        const int64_t high = boolean ? 1 : 255;
        if (!options_.wrap && (*v < 0 || *v > high)) {
            const int64_t stored = boolean ? (*v != 0) : static_cast<int64_t>(static_cast<uint8_t>(*v));
            error(line, cell.column,
                  "value " + cell.text + " is out of range; expected " + range + " (the library would store " +
                      std::to_string(stored) + "; --wrap allows that)");
            return;
        }
        out_.inputs.push_back({slot, *v});
        ++st.n_inputs;
    }

    void expect(int line, const CsvCell& cell, int slot, int32_t scope, PlanStep& st) {
        const OutputSlot& o = schema_.outputs[slot];
        if (!owned(line, cell, "output " + o.name, o.scope, scope)) return;
        auto v = parse_int(cell.text);
        if (!v || *v < 0 || *v > 255) {
            error(line, cell.column,
                  "'" + cell.text + "' is not a possible value of output " + o.name + "; expected an integer 0..255");
            return;
        }
        out_.expects.push_back({slot, static_cast<uint8_t>(*v)});
        ++st.n_expects;
    }

    const Schema& schema_;
    const SuiteOptions& options_;
    Plan& plan_;
    Plan out_;  // a copy that becomes the plan only when the file is clean
    uint32_t file_index_ = 0;
    std::vector<Column> columns_;
    std::map<std::string, std::size_t> seen_;
    int case_col_ = -1, scope_col_ = -1, header_line_ = 0;
    int current_case_ = -1;
    int case_steps_ = 0;
    int32_t last_scope_ = 0;
};

}  // namespace

void parse_suite(const std::string& file, const std::string& text, const Schema& schema, const SuiteOptions& options,
                 Plan& plan) {
    auto diags = SuiteParser(file, schema, options, plan).parse(text);
    if (!diags.empty()) throw SuiteError(std::move(diags));
}

Plan load_suites(const std::vector<std::string>& files, const Schema& schema, const SuiteOptions& options) {
    Plan plan;
    std::vector<Diagnostic> all;
    for (const auto& f : files) {
        const auto text = read_input_file(f, "suite file", "a header row with at least 'case' and 'scope'", all);
        if (!text) continue;
        try {
            parse_suite(f, *text, schema, options, plan);
        } catch (const SuiteError& e) {
            all.insert(all.end(), e.diagnostics.begin(), e.diagnostics.end());
        }
    }
    if (!all.empty()) throw SuiteError(std::move(all));
    return plan;
}

Plan repeat_cases(const Plan& plan, std::size_t n) {
    Plan out;
    out.files = plan.files;
    if (plan.cases.empty()) return out;
    for (std::size_t k = 0; out.cases.size() < n; ++k) {
        const PlanCase& c = plan.cases[k % plan.cases.size()];
        const std::size_t round = k / plan.cases.size();
        PlanCase nc{round ? c.name + "#" + std::to_string(round + 1) : c.name, c.file, c.line,
                    static_cast<uint32_t>(out.steps.size()), c.n_steps};
        for (uint32_t s = 0; s < c.n_steps; ++s) {
            PlanStep st = plan.steps[c.first_step + s];
            const uint32_t fi = static_cast<uint32_t>(out.inputs.size()),
                           fe = static_cast<uint32_t>(out.expects.size());
            out.inputs.insert(out.inputs.end(), plan.inputs.begin() + st.first_input,
                              plan.inputs.begin() + st.first_input + st.n_inputs);
            out.expects.insert(out.expects.end(), plan.expects.begin() + st.first_expect,
                               plan.expects.begin() + st.first_expect + st.n_expects);
            st.first_input = fi, st.first_expect = fe;
            out.steps.push_back(st);
        }
        out.cases.push_back(std::move(nc));
    }
    return out;
}

}  // namespace kiv
