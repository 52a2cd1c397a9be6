// `kivrun merge`: results in, one result out.
#include "commands/commands.h"
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

}  // namespace kiv
