// Reading the goals a prover left open, with a located message for every problem.
#include "suite/unproven.h"

#include "suite/csv.h"
#include "error.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>
#include <tuple>

namespace kiv {

namespace {

enum class UnprovenColumn { goal, record, flag, not_within, why };

const std::map<std::string, UnprovenColumn> kUnprovenColumns{{"goal", UnprovenColumn::goal},
                                             {"record", UnprovenColumn::record},
                                             {"flag", UnprovenColumn::flag},
                                             {"not_within", UnprovenColumn::not_within},
                                             {"why", UnprovenColumn::why}};

class UnprovenParser : TableReader {
public:
    UnprovenParser(const std::string& file, const Schema& schema) : TableReader(file), schema_(schema) {}

    std::vector<UnsettledGoal> parse(const std::string& text) {
        CsvReader reader(text, file_, diags_);
        CsvRow r;
        if (read_header(reader, r, " goal, record, flag, not_within and why") && header(r))
            while (!full() && reader.next(r))
                if (!r.blank()) row(r);
        if (!diags_.empty()) throw SuiteError(std::move(diags_));
        return std::move(out_);
    }

private:
    bool header(const CsvRow& row) {
        for (std::size_t c = 0; c < row.cells.size(); ++c) {
            const auto it = kUnprovenColumns.find(ascii_lower(row.cells[c].text));
            if (it == kUnprovenColumns.end())
                error(row.line, row.cells[c].column,
                      "unknown column '" + std::string(row.cells[c].text) +
                          "'; expected goal, record, flag, not_within and why");
            else if (!col_.emplace(it->second, c).second)
                error(row.line, row.cells[c].column, "column '" + it->first + "' repeats");
        }
        for (const char* need : {"goal", "not_within", "why"})
            if (!col_.count(kUnprovenColumns.at(need)))
                error(row.line, 1, std::string("no '") + need + "' column; expected goal, record, flag, not_within and why");
        columns_ = row.cells.size();
        return diags_.empty();
    }

    const CsvCell* cell(const CsvRow& row, UnprovenColumn c) const {
        const auto it = col_.find(c);
        return it != col_.end() && it->second < row.cells.size() ? &row.cells[it->second] : nullptr;
    }

    void row(const CsvRow& row) {
        for (std::size_t c = columns_; c < row.cells.size(); ++c)
            if (!row.cells[c].text.empty()) {
                error(row.line, row.cells[c].column,
                      "cell beyond the last column; the header has " + std::to_string(columns_));
                return;
            }
        const CsvCell* g = cell(row, UnprovenColumn::goal);
        const std::string name = g ? std::string(g->text) : "";
        const auto goal = goal_of(name);
        if (!goal) {
            error(row.line, g ? g->column : 1,
                  "unknown goal '" + name + "'; expected KIV_G<n> of a goal in the library's catalog" +
                      (schema_.from_catalog ? "" : ", which was not found"));
            return;
        }
        const CatalogGoal& info = *schema_.goals[*goal].info;
        for (auto [c, want, what] : {std::tuple{UnprovenColumn::record, &info.record, "record"},
                                     std::tuple{UnprovenColumn::flag, &info.field, "flag"}})
            if (const CsvCell* x = cell(row, c); x && x->text != *want) {
                error(row.line, x->column,
                      name + " has " + what + " '" + *want + "' in the catalog, not '" + std::string(x->text) +
                          "'; expected the file kivinst wrote with this library");
                return;
            }
        const CsvCell* n = cell(row, UnprovenColumn::not_within);
        const std::string_view t = n ? n->text : std::string_view("");
        uint32_t steps = 0;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), steps);
        if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
            error(row.line, n ? n->column : 1,
                  "not_within '" + std::string(t) + "' of " + name + " is not a whole number of steps (0: none known)");
            return;
        }
        if (const auto it = seen_.find(*goal); it != seen_.end()) {
            error(row.line, g->column, name + " is already listed on line " + std::to_string(it->second));
            return;
        }
        seen_[*goal] = row.line;
        const CsvCell* why = cell(row, UnprovenColumn::why);
        // Reports print the reason on one line.
        std::string text = why ? std::string(why->text) : "";
        std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
        out_.push_back({*goal, {steps, std::move(text), file_, row.line}});
    }

    std::optional<std::size_t> goal_of(const std::string& name) const {
        if (name.size() <= 5 || ascii_lower(name.substr(0, 5)) != "kiv_g") return std::nullopt;
        int32_t n = 0;
        const char* e = name.data() + name.size();
        const auto [p, ec] = std::from_chars(name.data() + 5, e, n);
        if (ec != std::errc() || p != e) return std::nullopt;
        for (std::size_t i = 0; i < schema_.goals.size(); ++i)
            if (schema_.goals[i].info && schema_.goals[i].info->goal == n) return i;
        return std::nullopt;
    }

    const Schema& schema_;
    std::map<UnprovenColumn, std::size_t> col_;
    std::map<std::size_t, int> seen_;  // goal -> line
    std::size_t columns_ = 0;
    std::vector<UnsettledGoal> out_;
};

}  // namespace

std::vector<UnsettledGoal> parse_unproven(const std::string& file, const std::string& text, const Schema& schema) {
    return UnprovenParser(file, schema).parse(text);
}

std::vector<UnsettledGoal> load_unproven(const std::string& file, const Schema& schema) {
    std::vector<Diagnostic> diags;
    const auto text = read_input_file(file, "unproven-goals file", "a header row goal,record,flag,not_within,why", diags);
    if (!text) throw SuiteError(std::move(diags));
    return parse_unproven(file, *text, schema);
}

std::string unproven_beside(const std::string& library) {
    namespace fs = std::filesystem;
    const fs::path lib(library);
    const std::string stem = lib.stem().string();
    if (lib.extension() != ".so" || stem.rfind("lib", 0) != 0 || stem.size() == 3) return "";
    const std::string name = stem.substr(3), file = name + ".unproven.csv";
    // The folder kivinst harness wrote, or the build beside its unit set (kiv_add_harness).
    for (const fs::path& p : {lib.parent_path() / file, lib.parent_path() / (name + "_harness") / file}) {
        std::error_code ec;
        if (fs::is_regular_file(p, ec)) return p.string();
    }
    return "";
}

}  // namespace kiv
