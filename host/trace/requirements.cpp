// Reading requirement sets and acceptance files from CSV, and dispatching
// ReqIF files to their reader (trace/reqif.cpp).
#include "trace/requirements.h"

#include "identity/identity.h"
#include "suite/csv.h"

#include <charconv>
#include <map>
#include <optional>

namespace kiv {

namespace {

bool ends_with(const std::string& s, const char* tail) {
    const std::string t = ascii_lower(s);
    const std::string w(tail);
    return t.size() >= w.size() && t.compare(t.size() - w.size(), w.size(), w) == 0;
}

std::optional<int64_t> whole_number(std::string_view s) {
    int64_t v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size() || v < 0) return std::nullopt;
    return v;
}

// A CSV table whose columns are named by a fixed set of headings.
class NamedTable : TableReader {
public:
    NamedTable(const std::string& file, std::vector<std::vector<std::string>> headings,
               std::vector<bool> required)
        : TableReader(file), headings_(std::move(headings)), required_(std::move(required)) {}

    // Calls row(line, cells, columns) for each row, cells[k] empty when column
    // k is missing; returns the problems.
    template <typename Row>
    std::vector<Diagnostic> read(const std::string& text, Row row) {
        CsvReader reader(text, file_, diags_);
        CsvRow r;
        if (!read_header(reader, r, expected())) return std::move(diags_);
        std::vector<int> at(headings_.size(), -1), column(headings_.size(), 1);
        for (std::size_t c = 0; c < r.cells.size(); ++c) {
            const std::string h = ascii_lower(r.cells[c].text);
            bool known = h == "note";
            for (std::size_t k = 0; k < headings_.size(); ++k)
                for (const auto& name : headings_[k])
                    if (h == name) {
                        known = true;
                        if (at[k] >= 0)
                            error(r.line, r.cells[c].column, "column '" + std::string(r.cells[c].text) + "' is given twice");
                        at[k] = static_cast<int>(c);
                    }
            if (!known)
                error(r.line, r.cells[c].column,
                      "unknown column '" + std::string(r.cells[c].text) + "'; expected" + expected());
        }
        for (std::size_t k = 0; k < headings_.size(); ++k)
            if (required_[k] && at[k] < 0) error(r.line, 1, "no '" + headings_[k][0] + "' column; expected" + expected());
        if (!diags_.empty()) return std::move(diags_);
        std::vector<std::string_view> cells(headings_.size());
        while (!full() && reader.next(r)) {
            if (r.blank()) continue;
            for (std::size_t k = 0; k < headings_.size(); ++k) {
                cells[k] = at[k] >= 0 && at[k] < static_cast<int>(r.cells.size()) ? r.cells[at[k]].text : "";
                column[k] = at[k] >= 0 && at[k] < static_cast<int>(r.cells.size()) ? r.cells[at[k]].column : 1;
            }
            row(r.line, cells, column, *this);
        }
        return std::move(diags_);
    }

    void problem(int line, int column, const std::string& message) { error(line, column, message); }

private:
    std::string expected() const {
        std::string s;
        for (std::size_t k = 0; k < headings_.size(); ++k)
            s += (k ? ", " : " ") + headings_[k][0] + (required_[k] ? "" : " (optional)");
        return s;
    }
    std::vector<std::vector<std::string>> headings_;
    std::vector<bool> required_;
};

void read_csv_requirements(const std::string& file, const std::string& text, std::vector<Requirement>& out,
                           std::vector<Diagnostic>& diags) {
    NamedTable table(file, {{"id"}, {"title", "name"}, {"text"}, {"revision"}, {"level", "integrity level"}},
                     {true, false, true, false, false});
    auto d = table.read(text, [&](int line, const std::vector<std::string_view>& cell, const std::vector<int>& col,
                                  NamedTable& t) {
        Requirement r;
        r.id = cell[0], r.title = cell[1], r.level = cell[4], r.file = file, r.line = line;
        if (r.id.empty()) return t.problem(line, col[0], "a requirement without an ID");
        if (cell[2].empty()) return t.problem(line, col[2], r.id + " has no text");
        r.text = cell[2];
        r.text_sha256 = requirement_text_hash(r.text);
        if (!cell[3].empty()) {
            const auto v = whole_number(cell[3]);
            if (!v)
                return t.problem(line, col[3], "revision '" + std::string(cell[3]) + "' of " + r.id +
                                                   " is not a whole number");
            r.revision = *v;
        }
        out.push_back(std::move(r));
    });
    diags.insert(diags.end(), d.begin(), d.end());
}

}  // namespace

RequirementMapping parse_requirement_mapping(const std::string& text) {
    RequirementMapping m;
    std::size_t b = 0;
    while (b <= text.size()) {
        const std::size_t e = std::min(text.find(',', b), text.size());
        const std::string item = text.substr(b, e - b);
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos || eq + 1 == item.size())
            throw Error("--req-map: '" + item + "' is not FIELD=ATTRIBUTE; expected e.g. id=ReqIF.ForeignID,text=ReqIF.Text");
        const std::string field = ascii_lower(item.substr(0, eq)), attribute = item.substr(eq + 1);
        std::string* to = field == "id"         ? &m.id
                          : field == "text"     ? &m.text
                          : field == "title"    ? &m.title
                          : field == "revision" ? &m.revision
                          : field == "level"    ? &m.level
                                                : nullptr;
        if (!to) throw Error("--req-map: unknown field '" + field + "'; expected id, text, title, revision or level");
        *to = attribute;
        b = e + 1;
    }
    return m;
}

std::string requirement_text_hash(std::string_view text) {
    std::string one;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (!blank)
            one += c;
        else if (!one.empty() && one.back() != ' ')
            one += ' ';
    }
    if (!one.empty() && one.back() == ' ') one.pop_back();
    return text_sha256(one);
}

std::vector<Requirement> read_requirements(const std::vector<std::string>& files, const RequirementMapping& mapping) {
    std::vector<Requirement> out;
    std::vector<Diagnostic> diags;
    for (const auto& f : files) {
        if (ends_with(f, ".reqifz")) {
            detail::read_reqifz(f, mapping, out, diags);
            continue;
        }
        const auto text = read_input_file(f, "requirement file", ends_with(f, ".reqif") ? "<REQ-IF>" : "id,title,text,revision", diags);
        if (!text) continue;
        if (ends_with(f, ".reqif"))
            detail::read_reqif_text(*text, f, mapping, out, diags);
        else
            read_csv_requirements(f, *text, out, diags);
    }
    std::map<std::string, const Requirement*> seen;
    for (const auto& r : out)
        if (auto [it, fresh] = seen.emplace(r.id, &r); !fresh)
            diags.push_back({r.file, r.line, 1,
                             "requirement " + printable(r.id) + " is defined twice; first at " + it->second->file +
                                 (it->second->line ? ":" + std::to_string(it->second->line) : "")});
    if (!diags.empty()) throw SuiteError(std::move(diags));
    return out;
}

std::vector<Acceptance> read_acceptances(const std::vector<std::string>& files) {
    std::vector<Acceptance> out;
    std::vector<Diagnostic> diags;
    for (const auto& f : files) {
        const auto text = read_input_file(f, "acceptance file", "req,sha256,revision,note", diags);
        if (!text) continue;
        NamedTable table(f, {{"req"}, {"sha256"}, {"revision"}}, {true, true, false});
        auto d = table.read(*text, [&](int line, const std::vector<std::string_view>& cell, const std::vector<int>& col,
                                       NamedTable& t) {
            Acceptance a{std::string(cell[0]), std::string(cell[1]), -1, f + ":" + std::to_string(line)};
            if (a.id.empty()) return t.problem(line, col[0], "an acceptance without a requirement ID");
            if (a.text_sha256.rfind("sha256:", 0) != 0 || a.text_sha256.size() != 71)
                return t.problem(line, col[1], "'" + a.text_sha256 + "' is not a text hash; expected sha256:<64 hex digits>");
            if (!cell[2].empty()) {
                const auto v = whole_number(cell[2]);
                if (!v) return t.problem(line, col[2], "revision '" + std::string(cell[2]) + "' is not a whole number");
                a.revision = *v;
            }
            out.push_back(std::move(a));
        });
        diags.insert(diags.end(), d.begin(), d.end());
    }
    if (!diags.empty()) throw SuiteError(std::move(diags));
    return out;
}

}  // namespace kiv
