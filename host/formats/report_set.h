// The reports one command writes from a result, as `run` and `report` share
// them: the files asked for (--json, --junit, --lcov, --cobertura, --html),
// checked before anything runs, then all written, the text report printed,
// and the exit code.
#pragma once

#include "formats/report_files.h"
#include "formats/writers.h"
#include "model/result.h"
#include "formats/json/result_json.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kiv {

struct ReportSet {
    std::string json, junit;
    std::string lcov, cobertura, html;
    std::string source_root = ".";  // where the catalog's relative source paths start
    std::string trace_csv, trace_html, trace_reqif;  // the traceability reports
    std::string gate;                                // --gate untested=0,...

    // The options; `json_help` says what --json writes for this command.
    void add_options(CLI::App& cmd, const char* json_help);
    bool any_file() const;
    // Checks the requested files, and `extra` outputs of the command, against
    // each other and `inputs` (see check_outputs). Without source positions
    // (a catalog of an older build) each requested source report is dropped
    // with a warning that names it, and the others are still written.
    // `source_files` are the goals' files (as the catalog names them): with
    // --html each one found under --source-root is an input too, since the
    // report reads it after the other files are written and the folder is
    // replaced whole.
    void check(bool have_positions, const std::vector<std::string>& inputs, const std::vector<std::string>& source_files,
               std::vector<OutputPath> extra = {}, const std::string& command = "run");
    // Writes every requested file, then the text report on `out` when `text`
    // is given; exit 2 when a file (or `out`) was not written, else 0 when the
    // summary says all passed, else 1.
    int write(const Result& result, const Summary& summary, std::ostream& out,
              std::optional<TextOptions> text) const;
};

}  // namespace kiv
