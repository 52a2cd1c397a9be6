// `kivrun report RESULT.json`: any report written again from a saved result,
// without running anything, through the same writers as `run`.
#include "commands/commands.h"
#include "error.h"
#include "formats/report_set.h"
#include "formats/source.h"
#include "trace/inputs.h"

#include "catalog/catalog.h"

#include <iostream>
#include <memory>

namespace kiv {

namespace {

struct ReportCommand {
    std::string result;
    std::string catalog;
    bool text = false;
    ReportSet reports;
    TraceInputs trace_inputs;
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
    o.trace_inputs.apply(o.trace_inputs.load(), r);
    const Summary summary = summarize(r);
    std::vector<std::string> inputs{o.result};
    if (!o.catalog.empty()) inputs.push_back(o.catalog);
    for (const auto& f : o.trace_inputs.files()) inputs.push_back(f);
    std::vector<std::string> sources;
    for (const auto& g : r.goals) sources.push_back(g.file);
    o.reports.check(has_source_positions(r), inputs, sources, {}, "report");
    std::optional<TextOptions> text;
    if (o.text || !o.reports.any_file()) text.emplace();
    return o.reports.write(r, summary, std::cout, text);
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
    opts->reports.add_options(*cmd, "Write the result as JSON again");
    opts->trace_inputs.add_options(*cmd);
    cmd->callback([&action, opts] { action = [opts] { return render(*opts); }; });
}

}  // namespace kiv
