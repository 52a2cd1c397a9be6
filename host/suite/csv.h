// A CSV reader for suites written in a spreadsheet: quoted cells, CRLF, a
// UTF-8 byte-order mark, comma or semicolon, and '#' comment lines.
#pragma once

#include "error.h"

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct CsvCell {
    std::string_view text;  // unquoted; surrounding blanks trimmed; valid while the reader and its text live
    int column = 0;         // 1-based character column where the cell starts
};

struct CsvRow {
    int line = 0;  // 1-based line where the row starts
    std::vector<CsvCell> cells;
    bool blank() const;
};

// Reads rows one at a time from a text it does not copy: a suite of a million
// rows costs one buffer, not a string per cell. The separator is ';' when the
// first row has semicolons and no commas, else ','. Text that is not UTF-8
// yields no rows; it and other problems (an unterminated quote, text after a
// closing quote) go to diags.
class CsvReader {
public:
    CsvReader(std::string_view text, const std::string& file, std::vector<Diagnostic>& diags);
    // The next row, comment lines skipped; false at the end or after an
    // unterminated quote. Reuses row's storage.
    bool next(CsvRow& row);
    int last_line() const { return last_line_; }  // of the last row read; 1 before any

private:
    std::string_view text_;
    const std::string& file_;
    std::vector<Diagnostic>& diags_;
    std::size_t i_ = 0, line_start_ = 0;
    int line_ = 1, last_line_ = 1;
    char sep_ = 0;
    std::deque<std::string> unescaped_;  // quoted cells with doubled quotes, which no view of the text can hold
};

// Every row at once, for small files and tests.
std::vector<CsvRow> read_csv(std::string_view text, const std::string& file, std::vector<Diagnostic>& diags);

// The first byte that is not part of well-formed UTF-8, or npos.
std::size_t invalid_utf8(std::string_view text);

// Text fit to quote in a message: control bytes as \xNN, so a message never
// sends raw control codes to a terminal.
std::string printable(std::string_view text);

// The whole text of an input file. A directory, an unreadable, an empty, a
// binary file or one beyond kMaxInputBytes (an endless one) gives no text and a diagnostic that names the file as `what`
// ("suite file") and, for an empty one, says what it should start with (`first_row`).
std::optional<std::string> read_input_file(const std::string& file, const std::string& what,
                                           const std::string& first_row, std::vector<Diagnostic>& diags);

// What the readers of suites and of justification files share: the file's
// located problems, capped so that a badly broken file does not flood the
// terminal, and the search for the header row.
class TableReader {
protected:
    explicit TableReader(const std::string& file) : file_(file) {}

    // Beyond kMaxDiagnostics a problem is dropped: the file is refused anyway.
    void error(int line, int column, const std::string& message) {
        if (!full()) diags_.push_back({file_, line, column, printable(message)});
    }
    bool full() const { return diags_.size() >= kMaxDiagnostics; }

    // Reads up to the header row, the first one that is not blank, into row;
    // false when there is none, which is reported with what the header should
    // name (`expected`) unless the text could not be read at all.
    bool read_header(CsvReader& reader, CsvRow& row, const std::string& expected) {
        const std::size_t before = diags_.size();
        while (reader.next(row))
            if (!row.blank()) return true;
        if (diags_.size() == before)
            error(reader.last_line(), 1, "no header row; expected a row naming the columns" + expected);
        return false;
    }

    const std::string& file_;
    std::vector<Diagnostic> diags_;

private:
    static constexpr std::size_t kMaxDiagnostics = 50;
};

// ASCII letters in lower case, for headings matched regardless of case.
std::string ascii_lower(std::string_view s);

}  // namespace kiv
