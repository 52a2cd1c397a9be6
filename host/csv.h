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

// ASCII letters in lower case, for headings matched regardless of case.
std::string ascii_lower(std::string s);

}  // namespace kiv
