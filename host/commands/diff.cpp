// `kivrun diff`: two results in, what changed between them out.
#include "commands/commands.h"
#include "compare/diff.h"
#include "error.h"
#include "formats/json/result_json.h"

#include <iostream>
#include <memory>

namespace kiv {

namespace {

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
