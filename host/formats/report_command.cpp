// `kivrun report RESULT.json`: any report written again from a saved result,
// without running anything, through the same writers as `run`.
#include "cli/commands.h"
#include "error.h"
#include "formats/source.h"
#include "formats/source_reports.h"
#include "formats/writers.h"

#include "catalog/catalog.h"

#include <iostream>
#include <memory>

namespace kiv {

namespace {

struct ReportCommand {
    std::string result;
    std::string catalog;
    std::string json, junit;
    bool text = false;
    SourceReports source;
};

// A result and a catalog belong together when they list the same goals
// reading the same record fields; the catalog then also places goals that
// the result does not (a result saved by an older build).
void match_catalog(Result& r, const std::string& path, const std::string& result_path) {
    const Catalog c = load_catalog(path);
    const auto differ = [&](const std::string& why) {
        throw Error(result_path + " is the result of a different catalog than " + path + ": " + why);
    };
    if (c.goals.size() != r.goals.size())
        differ(std::to_string(r.goals.size()) + " goals against " + std::to_string(c.goals.size()));
    for (GoalResult& g : r.goals) {
        const CatalogGoal* cg = c.goal(g.id);
        if (!cg || cg->record != g.record || cg->field != g.field)
            differ("goal ID " + std::to_string(g.id) + " is " + (cg ? cg->record + "." + cg->field : "not listed"));
        if (g.file.empty() && !cg->file.empty()) {
            g.file = cg->file;
            g.line = cg->line;
            g.column = cg->column;
            g.decision = cg->decision;
        }
    }
}

int render(ReportCommand o) {
    Result r = read_json_file(o.result);
    if (!o.catalog.empty()) match_catalog(r, o.catalog, o.result);
    const Summary summary = summarize(r);
    std::vector<OutputPath> outputs;
    if (!o.json.empty()) outputs.push_back({"--json", o.json});
    if (!o.junit.empty()) outputs.push_back({"--junit", o.junit});
    check_source_reports(o.source, has_source_positions(r), outputs);
    std::vector<std::string> inputs{o.result};
    if (!o.catalog.empty()) inputs.push_back(o.catalog);
    check_outputs(outputs, inputs);

    ReportWrites writes;
    writes.file(o.json, [&](std::ostream& out) { write_json(r, out); });
    writes.file(o.junit, [&](std::ostream& out) { write_junit(r, summary, out); });
    write_source_reports(r, o.source, writes);
    const bool any_file = !o.json.empty() || !o.junit.empty() || !o.source.lcov.empty() ||
                          !o.source.cobertura.empty() || !o.source.html.empty();
    if (o.text || !any_file) {
        TextOptions text;
        text.reports_failed = writes.failed();
        write_text(r, summary, std::cout, text);
    }
    return writes.finish(summary.all_passed() ? 0 : 1);
}

}  // namespace

void add_report_command(CLI::App& app, Action& action) {
    auto opts = std::make_shared<ReportCommand>();
    auto* cmd = app.add_subcommand("report",
                                   "Write reports from a result saved with --json, without running anything; exit "
                                   "code as the run's");
    cmd->add_option("result", opts->result, "A result saved by kivrun run --json")->required();
    cmd->add_option("--catalog", opts->catalog,
                    "Check that the result is of this catalog's goals, and place goals by it if the result does not")
        ->type_name("FILE");
    cmd->add_flag("--text", opts->text, "Print the text report (the default when no file is asked for)");
    cmd->add_option("--json", opts->json, "Write the result as JSON again")->type_name("FILE");
    cmd->add_option("--junit", opts->junit, "Write a JUnit XML report")->type_name("FILE");
    add_source_report_options(*cmd, opts->source);
    cmd->callback([&action, opts] { action = [opts] { return render(*opts); }; });
}

}  // namespace kiv
