// Checking and writing the reports of `run` and `report`.
#include "formats/report_set.h"

#include "error.h"
#include "formats/source.h"
#include "formats/trace_writers.h"
#include "trace/status.h"

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
    cmd.add_option("--trace-csv", trace_csv, "Write the requirement x case matrix as CSV")->type_name("FILE");
    cmd.add_option("--trace-html", trace_html, "Write the traceability report as HTML")->type_name("DIR");
    cmd.add_option("--reqif-out", trace_reqif, "Write each requirement's verification status as ReqIF 1.2")
        ->type_name("FILE");
    cmd.add_option("--gate", gate,
                   "Fail when a requirement count exceeds its limit: untested, failing, suspect, partial, unknown, "
                   "unlinked (cases naming no requirement)")
        ->type_name("COUNT=N,...")
        ->check([](const std::string& g) {
            try {
                parse_trace_gate(g);
                return std::string();
            } catch (const Error& e) {
                return std::string(e.what());
            }
        });
}

bool ReportSet::any_file() const {
    return !json.empty() || !junit.empty() || !lcov.empty() || !cobertura.empty() || !html.empty() ||
           !trace_csv.empty() || !trace_html.empty() || !trace_reqif.empty();
}

void ReportSet::check(bool have_positions, const std::vector<std::string>& inputs,
                      const std::vector<std::string>& source_files, std::vector<OutputPath> extra,
                      const std::string& command) {
    std::vector<OutputPath> outputs;
    if (!json.empty()) outputs.push_back({"--json", json});
    if (!junit.empty()) outputs.push_back({"--junit", junit});
    if (!trace_csv.empty()) outputs.push_back({"--trace-csv", trace_csv});
    if (!trace_reqif.empty()) outputs.push_back({"--reqif-out", trace_reqif});
    if (!trace_html.empty()) outputs.push_back({"--trace-html", trace_html, true});
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
    const TraceSummary trace = summarize_trace(result);
    if (result.trace) {
        writes.file(trace_csv, [&](std::ostream& o) { write_trace_csv(result, trace, o); });
        writes.file(trace_reqif, [&](std::ostream& o) { write_trace_reqif(result, trace, o); });
        if (!trace_html.empty()) writes.attempt([&] { write_trace_html(result, trace, trace_html); });
    } else if (!trace_csv.empty() || !trace_reqif.empty() || !trace_html.empty()) {
        std::cerr << "kivrun: warning: no traceability reports written: no case names a requirement and no "
                     "requirement set was given\n";
    }
    // The gate's messages go where a compiler's would, so an editor finds each line.
    const bool gate_met = gate.empty() || check_trace_gate(parse_trace_gate(gate), result, trace, std::cerr);
    if (text) {
        text->reports_failed = writes.failed();
        text->gate_failed = !gate_met;
        if (result.trace && text->verbosity > 0)
            text->requirements = [&](std::ostream& o) { write_trace_text(result, trace, o, text->verbosity > 1); };
        write_text(result, summary, out, *text);
    }
    return writes.finish(summary.all_passed() && gate_met ? 0 : 1);
}

}  // namespace kiv
