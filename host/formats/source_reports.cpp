// Checking and writing the reports on the source for `run` and `report`.
#include "formats/source_reports.h"

#include "error.h"
#include "formats/source.h"

#include <iostream>

namespace kiv {

void add_source_report_options(CLI::App& cmd, SourceReports& o) {
    cmd.add_option("--lcov", o.lcov, "Write an lcov tracefile (functions, statements, probe outcomes as branches)")
        ->type_name("FILE");
    cmd.add_option("--cobertura", o.cobertura, "Write Cobertura XML")->type_name("FILE");
    cmd.add_option("--html", o.html, "Write an HTML report of every goal on the source")->type_name("DIR");
    cmd.add_option("--source-root", o.source_root,
                   "Where the unit sources' paths in the catalog start (default: the current folder)")
        ->type_name("DIR");
}

void check_source_reports(SourceReports& o, bool have_positions, std::vector<OutputPath>& outputs) {
    struct Wanted {
        const char* option;
        std::string& path;
        bool directory;
    };
    for (Wanted w :
         {Wanted{"--lcov", o.lcov, false}, Wanted{"--cobertura", o.cobertura, false}, Wanted{"--html", o.html, true}}) {
        if (w.path.empty()) continue;
        if (!have_positions) {
            std::cerr << "kivrun: warning: " << w.option << " " << w.path
                      << " not written: the goals have no source positions (a catalog of an older build)\n";
            w.path.clear();
            continue;
        }
        outputs.push_back({w.option, w.path, w.directory});
    }
}

void write_source_reports(const Result& result, const SourceReports& o, ReportWrites& writes) {
    writes.file(o.lcov, [&](std::ostream& out) { write_lcov(result, out, o.source_root); });
    writes.file(o.cobertura, [&](std::ostream& out) { write_cobertura(result, out, o.source_root); });
    if (!o.html.empty()) writes.attempt([&] { write_html(result, o.html, o.source_root); });
}

}  // namespace kiv
