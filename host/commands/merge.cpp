// `kivrun merge` and `kivrun diff`: results in, a result or a comparison out.
#include "cli/commands.h"
#include "compare/diff.h"
#include "error.h"
#include "compare/merge.h"
#include "formats/report_files.h"
#include "formats/writers.h"

#include <iostream>
#include <memory>

namespace kiv {

namespace {

struct MergeCommand {
    std::vector<std::string> results;
    std::string output;
};

int merge(const MergeCommand& o) {
    // Checked first: an output that is one of the inputs would lose it.
    check_outputs({{"-o", o.output}}, o.results, "merge");
    Result merged = merge_files(o.results);
    const Summary s = summarize(merged);
    write_report_file(o.output, [&](std::ostream& out) { write_json(merged, s, out); });
    std::cout << "kivrun merge: " << count(o.results.size(), "result", "results") << ", "
              << count(merged.cases.size(), "case", "cases") << " (" << s.passed << " passed), " << s.total.reached
              << " of " << count(s.total.total, "goal", "goals") << " reached -> " << o.output << "\n";
    keep_until_exit(std::move(merged));
    return 0;
}

struct DiffCommand {
    std::string before, after;
    bool json = false;
};

int diff(const DiffCommand& o) {
    const ResultDiff d = diff_results(read_json_file(o.before), read_json_file(o.after), o.before, o.after);
    if (o.json)
        write_diff_json(d, std::cout);
    else
        write_diff_text(d, std::cout);
    std::cout.flush();
    if (!std::cout) throw Error("writing the comparison to standard output failed");
    return d.regressed() ? 1 : 0;
}

}  // namespace

void add_merge_command(CLI::App& app, Action& action) {
    auto opts = std::make_shared<MergeCommand>();
    auto* cmd = app.add_subcommand("merge",
                                   "Merge results saved with --json (the shards of a run, or runs of other suites on "
                                   "the same library build) into one; exit 0 when it is written");
    cmd->add_option("results", opts->results, "Results to merge")->required()->type_name("RESULT.json");
    cmd->add_option("-o,--output", opts->output, "The merged result (JSON)")->required()->type_name("FILE");
    cmd->callback([&action, opts] { action = [opts] { return merge(*opts); }; });
}

void add_diff_command(CLI::App& app, Action& action) {
    auto opts = std::make_shared<DiffCommand>();
    auto* cmd = app.add_subcommand("diff",
                                   "Compare two results: goals gained and lost, cases newly failing or passing, added "
                                   "or removed; exit 1 when a goal was lost or a case newly fails");
    cmd->add_option("old", opts->before, "The result to compare against (e.g. the main branch's)")->required();
    cmd->add_option("new", opts->after, "The result of the change")->required();
    cmd->add_flag("--json", opts->json, "Write the comparison as JSON on standard output");
    cmd->callback([&action, opts] { action = [opts] { return diff(*opts); }; });
}

}  // namespace kiv
