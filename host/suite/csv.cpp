// The CSV reader for suite and justification files.
#include "csv.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kiv {

bool CsvRow::blank() const {
    for (const auto& c : cells)
        if (!c.text.empty()) return false;
    return true;
}

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool is_comment(const std::string& text, std::size_t at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    return at < text.size() && text[at] == '#';
}

char separator_of(const std::string& text, std::size_t from) {
    bool comma = false, semicolon = false;
    for (std::size_t i = from; i < text.size() && text[i] != '\n'; ++i) {
        comma |= text[i] == ',';
        semicolon |= text[i] == ';';
    }
    return semicolon && !comma ? ';' : ',';
}

}  // namespace

std::vector<CsvRow> read_csv(const std::string& text, const std::string& file, std::vector<Diagnostic>& diags) {
    std::vector<CsvRow> rows;
    std::size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int line = 1;
    std::size_t line_start = i;
    char sep = 0;
    while (i < text.size()) {
        if (is_comment(text, i)) {
            while (i < text.size() && text[i] != '\n')
                ++i;
            ++i, ++line, line_start = i;
            continue;
        }
        if (!sep) sep = separator_of(text, i);
        CsvRow row{line, {}};
        for (;;) {  // one cell per turn
            CsvCell cell{{}, static_cast<int>(i - line_start) + 1};
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
                ++i;
            if (i < text.size() && text[i] == '"') {
                const int qline = line, qcol = static_cast<int>(i - line_start) + 1;
                bool closed = false;
                for (++i; i < text.size(); ++i) {
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            cell.text += '"';
                            ++i;
                            continue;
                        }
                        closed = true, ++i;
                        break;
                    }
                    if (text[i] == '\n') ++line, line_start = i + 1;
                    cell.text += text[i];
                }
                if (!closed) {
                    diags.push_back({file, qline, qcol, "quote opened here is never closed"});
                    return rows;
                }
                while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
                    ++i;
                if (i < text.size() && text[i] != sep && text[i] != '\n')
                    diags.push_back(
                        {file, line, static_cast<int>(i - line_start) + 1,
                         "unexpected text after a quoted cell; expected a separator or the end of the line"});
                while (i < text.size() && text[i] != sep && text[i] != '\n')
                    ++i;
            } else {
                std::size_t b = i;
                while (i < text.size() && text[i] != sep && text[i] != '\n')
                    ++i;
                std::string raw = text.substr(b, i - b);
                if (!raw.empty() && raw.back() == '\r') raw.pop_back();
                cell.text = trim(raw);
            }
            row.cells.push_back(std::move(cell));
            if (i >= text.size() || text[i] == '\n') break;
            ++i;  // the separator
        }
        rows.push_back(std::move(row));
        ++i, ++line, line_start = i;
    }
    return rows;
}

std::optional<std::string> read_input_file(const std::string& file, const std::string& what,
                                           const std::string& first_row, std::vector<Diagnostic>& diags) {
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        diags.push_back({file, 0, 0, "is a directory; expected a " + what + " (CSV)"});
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (!in) {
        diags.push_back({file, 0, 0, "cannot read the " + what});
        return std::nullopt;
    }
    // An empty file inserts nothing, which the stream reports as a failure.
    if (in.peek() == std::ifstream::traits_type::eof()) {
        diags.push_back({file, 0, 0, "the " + what + " is empty; expected " + first_row});
        return std::nullopt;
    }
    if (!(text << in.rdbuf())) {
        diags.push_back({file, 0, 0, "cannot read the " + what});
        return std::nullopt;
    }
    return text.str();
}

std::string ascii_lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace kiv
