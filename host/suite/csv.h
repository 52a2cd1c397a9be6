// A CSV reader for suites written in a spreadsheet: quoted cells, CRLF, a
// UTF-8 byte-order mark, comma or semicolon, and '#' comment lines.
#pragma once

#include "error.h"

#include <optional>
#include <string>
#include <vector>

namespace kiv {

struct CsvCell {
    std::string text;  // unquoted; surrounding blanks trimmed
    int column = 0;    // 1-based character column where the cell starts
};

struct CsvRow {
    int line = 0;  // 1-based line where the row starts
    std::vector<CsvCell> cells;
    bool blank() const;
};

// Splits text into rows, skipping comment lines. The separator is ';' when the
// first row has semicolons and no commas, else ','. Problems (an unterminated
// quote, text after a closing quote) go to diags.
std::vector<CsvRow> read_csv(const std::string& text, const std::string& file, std::vector<Diagnostic>& diags);

// The whole text of an input file. A directory, an unreadable or an empty file
// gives no text and a diagnostic that names the file as `what` ("suite file")
// and, for an empty one, says what it should start with (`first_row`).
std::optional<std::string> read_input_file(const std::string& file, const std::string& what,
                                           const std::string& first_row, std::vector<Diagnostic>& diags);

// What the readers of suites and of justification files share: the file's
// located problems, capped so that a badly broken file does not flood the
// terminal, and the search for the header row.
class TableReader {
protected:
    explicit TableReader(const std::string& file) : file_(file) {}

    void error(int line, int column, std::string message) {
        diags_.push_back({file_, line, column, std::move(message)});
    }
    bool full() const { return diags_.size() >= kMaxDiagnostics; }

    // Reads the rows and returns the index of the header row, the first one
    // that is not blank; rows.size() when there is none, which is reported
    // with what the header should name (`expected`).
    std::size_t read_table(const std::string& text, std::vector<CsvRow>& rows, const std::string& expected) {
        rows = read_csv(text, file_, diags_);
        std::size_t r = 0;
        while (r < rows.size() && rows[r].blank())
            ++r;
        if (r == rows.size())
            error(rows.empty() ? 1 : rows.back().line, 1,
                  "no header row; expected a row naming the columns" + expected);
        return r;
    }

    const std::string& file_;
    std::vector<Diagnostic> diags_;

private:
    static constexpr std::size_t kMaxDiagnostics = 50;
};

// ASCII letters in lower case, for headings matched regardless of case.
std::string ascii_lower(std::string s);

}  // namespace kiv
