// Checking and writing the reports of `run` and `report`.
#include "formats/report_set.h"

#include "error.h"
#include "formats/source.h"

#include <filesystem>
#include <iostream>
#include <set>

namespace kiv {

void ReportSet::add_options(CLI::App& cmd, const char* json_help) {
    cmd.add_option("--json", json, json_help)->type_name("FILE");
    cmd.add_option("--junit", junit, "Write a JUnit XML report")->type_name("FILE");
    cmd.add_option("--lcov", lcov, "Write an lcov tracefile (functions, statements, probe outcomes as branches)")
        ->type_name("FILE");
    cmd.add_option("--cobertura", cobertura, "Write Cobertura XML")->type_name("FILE");
    cmd.add_option("--html", html, "Write an HTML report of every goal on the source")->type_name("DIR");
    cmd.add_option("--source-root", source_root,
                   "Where the unit sources' paths in the catalog start (default: the current folder)")
        ->type_name("DIR");
}

bool ReportSet::any_file() const {
    return !json.empty() || !junit.empty() || !lcov.empty() || !cobertura.empty() || !html.empty();
}

void ReportSet::check(bool have_positions, const std::vector<std::string>& inputs,
                      const std::vector<std::string>& source_files, std::vector<OutputPath> extra,
                      const std::string& command) {
    std::vector<OutputPath> outputs;
    if (!json.empty()) outputs.push_back({"--json", json});
    if (!junit.empty()) outputs.push_back({"--junit", junit});
    outputs.insert(outputs.end(), extra.begin(), extra.end());
    struct Wanted {
        const char* option;
        std::string& path;
        bool directory;
    };
    for (Wanted w : {Wanted{"--lcov", lcov, false}, Wanted{"--cobertura", cobertura, false}, Wanted{"--html", html, true}}) {
        if (w.path.empty()) continue;
        if (!have_positions) {
            std::cerr << "kivrun: warning: " << w.option << " " << w.path
                      << " not written: the goals have no source positions (a catalog of an older build)\n";
            w.path.clear();
            continue;
        }
        outputs.push_back({w.option, w.path, w.directory});
    }
    std::vector<std::string> shown;
    if (!html.empty()) {
        std::set<std::string> seen;
        for (const auto& f : source_files) {
            // As the user gave the root, so the message names the file as they know it.
            const std::string path = (std::filesystem::path(source_root) / f).lexically_normal().string();
            std::error_code ec;
            if (!f.empty() && std::filesystem::is_regular_file(path, ec) && seen.insert(path).second)
                shown.push_back(path);
        }
    }
    check_outputs(outputs, inputs, command, shown);
}

int ReportSet::write(const Result& result, const Summary& summary, std::ostream& out,
                     std::optional<TextOptions> text) const {
    ReportWrites writes;
    writes.file(json, [&](std::ostream& o) { write_json(result, summary, o); });
    writes.file(junit, [&](std::ostream& o) { write_junit(result, summary, o); });
    writes.file(lcov, [&](std::ostream& o) { write_lcov(result, o, source_root); });
    writes.file(cobertura, [&](std::ostream& o) { write_cobertura(result, o, source_root); });
    if (!html.empty()) writes.attempt([&] { write_html(result, summary, html, source_root); });
    if (text) {
        text->reports_failed = writes.failed();
        write_text(result, summary, out, *text);
    }
    return writes.finish(summary.all_passed() ? 0 : 1);
}

}  // namespace kiv
