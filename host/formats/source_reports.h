// The options of the reports on the source (--lcov, --cobertura, --html), as
// `run` and `report` share them: checked before anything runs, written after.
#pragma once

#include "formats/report_files.h"
#include "model/result.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace kiv {

struct SourceReports {
    std::string lcov, cobertura, html;
    std::string source_root = ".";  // where the catalog's relative source paths start
};

void add_source_report_options(CLI::App& cmd, SourceReports& o);

// Adds the requested outputs to those checked before the run. Without source
// positions (a catalog of an older build) each requested one is dropped with
// a warning that names it, and the other reports are still written.
void check_source_reports(SourceReports& o, bool have_positions, std::vector<OutputPath>& outputs);

// Writes each requested report through `writes`.
void write_source_reports(const Result& result, const SourceReports& o, ReportWrites& writes);

}  // namespace kiv
