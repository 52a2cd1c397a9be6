// Coverage on the component's source: an lcov tracefile, Cobertura XML and a
// self-contained HTML report, each written from a Result alone, placing every
// goal at the probe call the catalog located for it.
#pragma once

#include "formats/writers.h"
#include "model/result.h"

#include <ostream>
#include <string>
#include <vector>

namespace kiv {

// True when every goal knows its file and line: the source reports need that,
// and a catalog of an older build does not give it.
bool has_source_positions(const Result& result);

// Goals of one source file, by line, column and goal order.
struct FileGoals {
    std::string file;                // relative to the source root, as the catalog gives it
    std::vector<std::size_t> goals;  // into Result::goals
};
std::vector<FileGoals> goals_by_file(const Result& result);  // files by name

// Criteria lcov and Cobertura count as branches: each outcome of a probe.
bool is_branch_criterion(const std::string& criterion);

// The absolute path of a catalog file under `source_root`: the file's bytes,
// where the catalog writes a path that is not UTF-8 escaped (path_text.h).
std::string source_path(const std::string& source_root, const std::string& file);

// Hits of a source line for line coverage, as gcov counts the line: whether
// a block whose run of statements covers the line ran (the lines kivinst
// recorded for each statement goal); for a line no run covers, whether one of
// its own outcomes was reached (see line_hits in source_index.cpp).
struct LineHits {
    int32_t line = 0;
    bool statement = false;  // the run of a statement goal covers the line: it has a DA line
    uint64_t hits = 0;  // runs of the line where its statement goals count them, else 1 or 0
    // Not run, and every statement goal whose run covers it is justified.
    bool justified = false;
    std::size_t branches = 0, branches_reached = 0;
    std::string function;
};
std::vector<LineHits> line_hits(const Result& result, const FileGoals& file);


// `source_root` makes the SF paths absolute, as genhtml needs to find the code.
void write_lcov(const Result& result, std::ostream& out, const std::string& source_root);
void write_cobertura(const Result& result, std::ostream& out, const std::string& source_root);
// Writes DIR/index.html and one page per source file (DIR is created); code is
// read from `source_root`, and a page says so when its file is not there.
// Throws Error when DIR cannot be written.
void write_html(const Result& result, const Summary& summary, const std::string& dir, const std::string& source_root);

}  // namespace kiv
