// `kivrun run LIBRARY SUITE...`: runs CSV test suites against a harness
// library and reports the outcome of every case and the coverage reached per
// criterion.
#include "commands/command_line.h"
#include "commands/commands.h"
#include "commands/numbers.h"
#include "commands/target_options.h"
#include "error.h"
#include "exec/from_run.h"
#include "exec/replay.h"
#include "exec/run.h"
#include "formats/report_files.h"
#include "formats/writers.h"
#include "suite/record.h"
#include "suite/select.h"
#include "suite/suite.h"
#include "suite/unproven.h"
#include "formats/report_set.h"
#include "identity/identity.h"
#include "mcdc/mcdc_measure.h"
#include "trace/inputs.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>

namespace {

using kiv::CommonOptions;
using kiv::open_target;

struct RunCommand {
    CommonOptions common;
    std::vector<std::string> suites;
    std::string isolation = "snapshot";
    int workers = 1;
    double step_timeout = 1.0;
    bool wrap = false, trace = false, quiet = false, verbose = false, mcdc = false;
    std::vector<std::string> fail_under;
    std::vector<std::string> justify;
    std::string unproven;  // the goals a prover left open; default: beside the library
    kiv::Selection selection;
    std::string shard;
    std::optional<uint64_t> seed;
    bool list = false;
    bool show_outputs = false, record_all = false, fail_fast = false;
    std::string record;
    kiv::ReportSet reports;
    kiv::TraceInputs trace_inputs;
};

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// A threshold on a criterion the library has no goals of is bad input, found before the run.
void check_thresholds(const std::vector<kiv::Threshold>& thresholds, const kiv::Target& target) {
    for (const auto& t : thresholds) {
        bool found = false;
        for (const auto& g : target.schema().goals)
            found = found || (g.info && g.info->criterion == t.criterion);
        kiv::check_threshold_criterion(t, found, !target.catalog().present());
    }
}

// Every file the run read, by content. After the run: the executor forks,
// and must be alone in its process when it does.
std::vector<kiv::InputFile> hash_inputs(const RunCommand& o, const kiv::Target& target) {
    std::vector<kiv::InputFile> files;
    for (const auto& f : o.suites) files.push_back({"suite", f, ""});
    for (const auto& f : o.justify) files.push_back({"justification", f, ""});
    for (const auto& f : o.trace_inputs.requirements) files.push_back({"requirements", f, ""});
    for (const auto& f : o.trace_inputs.accepted) files.push_back({"acceptance", f, ""});
    files.push_back({"library", o.common.library, ""});
    if (target.catalog().present()) files.push_back({"catalog", target.catalog().path, ""});
    for (auto& f : files)
        f.sha256 = kiv::file_sha256(f.path);
    return files;
}

// Narrows the plan to the cases chosen; false when they were only listed.
bool select(const RunCommand& o, kiv::Plan& plan, kiv::RunDescription& desc) {
    kiv::Selection s = o.selection;
    s.shard = o.shard.empty() ? kiv::shard_from_environment() : kiv::parse_shard(o.shard);
    if (s.shard) desc.shard_index = s.shard->index, desc.shard_count = s.shard->count;
    if (s.shuffle) {
        s.seed = o.seed ? *o.seed : std::random_device{}();
        if (!o.seed) std::cerr << "kivrun: cases shuffled with --seed " << s.seed << "\n";
    }
    plan = kiv::select_cases(std::move(plan), s);
    if (!o.list) return true;
    std::ostringstream listed;
    kiv::list_cases(plan, listed);
    std::cout << kiv::terminal_text(listed.str());
    return false;
}

// --show-outputs and --record: the selected cases once more, apart from the run.
void replay(const RunCommand& o, const kiv::Target& target, const kiv::Plan& plan) {
    std::vector<std::size_t> cases(plan.cases.size());
    for (std::size_t c = 0; c < cases.size(); ++c)
        cases[c] = c;
    kiv::SuiteRecorder recorder(target.schema(), plan, o.record_all);
    kiv::replay(target, plan, cases, o.step_timeout, [&](std::size_t c, uint32_t s, const std::vector<uint64_t>& out) {
        if (o.show_outputs) kiv::show_step(std::cout, target.schema(), plan, c, s, out);
        if (!o.record.empty()) recorder.step(c, s, out);
    });
    if (o.record.empty()) return;
    kiv::write_report_file(o.record, [&](std::ostream& out) { recorder.write(out); });
    std::cerr << "kivrun: recorded " << plan.cases.size() << " cases with their outputs in " << o.record << "\n";
}


int run(const RunCommand& o) {
    const auto start = Clock::now();
    kiv::RunDescription desc;
    desc.started = utc_now();
    std::vector<kiv::Threshold> thresholds;
    for (const auto& t : o.fail_under)
        thresholds.push_back(kiv::parse_threshold(t));
    auto target = open_target(o.common);
    check_thresholds(thresholds, *target);
    // Suites and justifications are both checked before anything runs, and
    // the problems of both reported at once.
    std::vector<kiv::Diagnostic> problems;
    kiv::Plan plan;
    std::vector<kiv::Justification> justifications;
    try {
        plan = kiv::load_suites(o.suites, target->schema(), {o.wrap});
    } catch (const kiv::SuiteError& e) {
        problems = e.diagnostics;
    }
    try {
        justifications = kiv::load_justifications(o.justify, target->schema());
    } catch (const kiv::SuiteError& e) {
        problems.insert(problems.end(), e.diagnostics.begin(), e.diagnostics.end());
    }
    std::vector<kiv::UnsettledGoal> unsettled;
    // The file found beside the library names goals by the catalog's numbers: without one it is left out.
    const std::string unproven = !o.unproven.empty()                 ? o.unproven
                                 : target->schema().from_catalog ? kiv::unproven_beside(o.common.library)
                                                                 : "";
    try {
        if (!unproven.empty()) unsettled = kiv::load_unproven(unproven, target->schema());
    } catch (const kiv::SuiteError& e) {
        problems.insert(problems.end(), e.diagnostics.begin(), e.diagnostics.end());
    }
    kiv::TraceInputs::Loaded requirements;
    try {
        requirements = o.trace_inputs.load();
    } catch (const kiv::SuiteError& e) {
        problems.insert(problems.end(), e.diagnostics.begin(), e.diagnostics.end());
    }
    if (!problems.empty()) throw kiv::SuiteError(std::move(problems));
    // MC/DC conditions are justified beside the goals, not among them.
    std::vector<kiv::Justification> mcdc_rows;
    std::erase_if(justifications, [&](const kiv::Justification& j) {
        if (j.mcdc_decision.empty()) return false;
        mcdc_rows.push_back(j);
        return true;
    });
    for (const auto& t : thresholds)
        if (t.criterion == "mcdc" && !o.mcdc) throw kiv::Error("--fail-under mcdc needs --mcdc");
    const kiv::McdcSetup mcdc = kiv::prepare_mcdc(*target, mcdc_rows, o.mcdc);
    if (!select(o, plan, desc)) return 0;
    // Checked before the run, so a bad path costs no run and never overwrites an input.
    std::vector<kiv::OutputPath> extra;
    if (!o.record.empty()) extra.push_back({"--record", o.record});
    // GoogleTest's protocol: a runner that shards says so by creating this
    // file; an output like any other, never an input.
    const char* status = desc.shard_count ? std::getenv("GTEST_SHARD_STATUS_FILE") : nullptr;
    if (status && *status) extra.push_back({"GTEST_SHARD_STATUS_FILE", status});
    std::vector<std::string> inputs = o.suites;
    inputs.insert(inputs.end(), o.justify.begin(), o.justify.end());
    if (!unproven.empty()) inputs.push_back(unproven);
    for (const auto& f : o.trace_inputs.files()) inputs.push_back(f);
    inputs.push_back(o.common.library);
    if (target->catalog().present()) inputs.push_back(target->catalog().path);
    kiv::ReportSet reports = o.reports;
    std::vector<std::string> sources;
    for (const auto& g : target->catalog().goals) sources.push_back(g.file);
    reports.check(target->catalog().has_positions(), inputs, sources, extra);
    if (status && *status) kiv::write_report_file(status, [](std::ostream&) {});
    desc.parse_seconds = since(start);
    // The replay's time counts as reporting: it only shows and records.
    if (o.show_outputs || !o.record.empty()) replay(o, *target, plan);

    kiv::RunOptions ro;
    ro.isolation = o.isolation == "fork" ? kiv::Isolation::fork : kiv::Isolation::snapshot;
    ro.workers = o.workers;
    ro.step_timeout = o.step_timeout;
    // Each case's own goals, for the reports that show them; a requirement's goals are its cases'.
    ro.case_goals = o.trace || !o.reports.json.empty() || !plan.links.empty();
    ro.fail_fast = o.fail_fast;
    ro.progress = !o.quiet && isatty(STDOUT_FILENO);
    const kiv::RunResult executed = kiv::run(*target, plan, ro);
    std::optional<kiv::McdcSection> mcdc_section;
    if (o.mcdc) mcdc_section = kiv::measure_mcdc(*target, plan, executed, mcdc, ro);
    if (!executed.stopped.empty()) std::cerr << "kivrun: " << executed.stopped << "; the cases left are not run\n";

    const auto report_start = Clock::now();
    desc.library = o.common.library;
    desc.justification_files = o.justify;
    desc.isolation = o.isolation;
    desc.workers = o.workers;
    desc.step_timeout = o.step_timeout;
    desc.inputs = hash_inputs(o, *target);
    desc.tool_version = KIV_VERSION;
    desc.command_line = kiv::invocation();
    kiv::Result result = kiv::make_result(*target, plan, executed, desc, justifications, thresholds);
    for (const auto& u : unsettled)
        result.goals.at(u.goal).unsettled = u.what;
    kiv::add_every_failed_check(result, *target, plan, o.step_timeout, std::cerr);
    kiv::add_case_links(result, plan, executed);
    o.trace_inputs.apply(requirements, result);
    result.mcdc = std::move(mcdc_section);
    const kiv::Summary summary = kiv::summarize(result);
    result.run.report_seconds = since(report_start);
    result.run.seconds = since(start);
    kiv::TextOptions text;
    text.verbosity = o.quiet ? 0 : o.verbose ? 2 : 1;
    text.trace = o.trace;
    const int code = reports.write(result, summary, std::cout, text);
    kiv::keep_until_exit(std::move(target));
    kiv::keep_until_exit(std::move(plan));
    kiv::keep_until_exit(std::move(result));
    return code;
}

}  // namespace

namespace kiv {

void add_run_command(CLI::App& app, Action& action) {
    auto opts = std::make_shared<RunCommand>();
    RunCommand& run_opts = *opts;
    auto* run_cmd = app.add_subcommand("run", "Run suites and report checks and coverage");
    add_common(*run_cmd, run_opts.common);
    run_cmd->add_option("suites", run_opts.suites, "Suite files (CSV)")->required();
    run_cmd
        ->add_option("--isolation", run_opts.isolation,
                     "snapshot: restore the library's data between cases (fast); fork: a process per case")
        ->check(CLI::IsMember({"snapshot", "fork"}));
    run_cmd->add_option("-j,--jobs", run_opts.workers, "Worker processes")->check(kiv::whole_number(1, 256));
    run_cmd->add_option("--step-timeout", run_opts.step_timeout, "Seconds a step may take")
        ->check(kiv::real_number(0.001, 3600.0));
    run_cmd->add_flag("--wrap", run_opts.wrap, "Accept values the library stores modulo 256 (or as 1 when boolean)");
    run_opts.reports.add_options(*run_cmd, "Write the full report as JSON");
    run_opts.trace_inputs.add_options(*run_cmd);
    // One value per occurrence, so an option never swallows the suites after it.
    run_cmd
        ->add_option("--justify", run_opts.justify,
                     "CSV of goals no input can reach, with columns 'goal' (variable ID or KIV_G<n>) and "
                     "'reason' (repeatable)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    run_cmd
        ->add_option("--unproven", run_opts.unproven,
                     "CSV of the goals kivinst could not prove unreachable (goal,record,flag,not_within,why), shown "
                     "with the goals left unknown (default: <name>.unproven.csv beside lib<name>.so or in its <name>_harness folder)")
        ->type_name("FILE");
    run_cmd
        ->add_option("--fail-under", run_opts.fail_under,
                     "Fail when percent covered, (reached + justified) / total, is lower; without --justify that "
                     "is percent reached (repeatable; a criterion or 'total')")
        ->type_name("CRITERION=PERCENT")
        ->allow_extra_args(false);
    run_cmd->add_flag("--mcdc", run_opts.mcdc,
                      "Measure MC/DC: replay the cases to show each condition deciding its decision on its own");
    run_cmd->add_flag("--trace", run_opts.trace, "List the first case and step that reached each goal");
    run_cmd->add_flag("-q,--quiet", run_opts.quiet, "Print only failing cases and the verdict");
    run_cmd->add_flag("-v,--verbose", run_opts.verbose, "List every case, passed ones too");
    run_cmd
        ->add_option("--filter", run_opts.selection.filters,
                     "Run the cases whose name or suite:case matches the glob; a leading '-' excludes (repeatable)")
        ->type_name("GLOB")
        ->allow_extra_args(false);
    run_cmd->add_flag("--fail-fast", run_opts.fail_fast,
                      "Start no case after one that failed, crashed or timed out; the rest are not run");
    run_cmd->add_flag("--list", run_opts.list,
                      "List the selected cases with suite, line, steps and checks; run nothing");
    run_cmd->add_option("--repeat", run_opts.selection.repeat, "Run the selected cases N times")
        ->type_name("N")
        ->check(kiv::whole_number(1, 1000000));
    run_cmd->add_flag("--shuffle", run_opts.selection.shuffle, "Run the cases in a random order (see --seed)");
    run_cmd->add_option("--seed", run_opts.seed, "Seed of --shuffle's order (default: random, printed)")
        ->check(kiv::whole_number(0, UINT64_MAX));
    run_cmd
        ->add_option("--shard", run_opts.shard,
                     "Run runner K's share (from 0) of N, by a stable hash of suite:case (default: "
                     "GTEST_SHARD_INDEX/GTEST_TOTAL_SHARDS when set)")
        ->type_name("K/N");
    run_cmd->add_flag("--show-outputs", run_opts.show_outputs,
                      "Print each step's inputs and the outputs of its scope after it");
    auto* record = run_cmd->add_option("--record", run_opts.record,
                                       "Write the selected cases as a suite whose expect cells hold the outputs seen "
                                       "(never an input file)");
    record->type_name("OUT.csv");
    run_cmd->add_flag("--record-all", run_opts.record_all, "With --record: an expect column for every output")
        ->needs(record);
    run_cmd->callback([&action, opts] { action = [opts] { return run(*opts); }; });
}

}  // namespace kiv
