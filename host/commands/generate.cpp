// `kivrun generate`: searches step sequences for every reachable goal, writes
// the minimised suite with its observed outputs as expectations, and reports
// what was reached, justified and missed.
#include "commands/commands.h"
#include "error.h"
#include "suite/justify.h"
#include "suite/unproven.h"
#include "mcdc/mcdc_measure.h"
#include "generate/mcdc_pairs.h"
#include "generate/suite_writer.h"
#include "generate/supervise.h"
#include "load/target.h"
#include "formats/writers.h"
#include "formats/report_files.h"
#include "commands/numbers.h"
#include "catalog/catalog.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

namespace kiv {

namespace {

// The longest a case may grow, and how far a goal that needs it takes cases
// when --max-steps is not given.
constexpr std::size_t kNeededSteps = 4096;

struct GenerateCommand {
    std::string library, catalog, output;
    uint64_t seed = 1;
    double time_budget = 0;
    uint64_t max_executions = 0;
    uint64_t plateau = 20000;
    std::size_t max_steps = 256;
    bool max_steps_given = false;  // --max-steps holds cases to it; else a counter may take them up to kNeededSteps
    double step_timeout = 1.0;
    std::vector<std::string> justify;
    std::string unproven;  // the goals a prover left open; default: beside the library
    bool force = false, quiet = false, mcdc = false;
};

std::string with_commas(uint64_t n) {
    std::string s = std::to_string(n);
    for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3)
        s.insert(static_cast<std::size_t>(i), ",");
    return s;
}

std::string seconds(double s) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3f s", s);
    return b;
}

std::string stop_text(gen::Stop stop, const GenerateCommand& o, const gen::Generated& g) {
    switch (stop) {
        case gen::Stop::goals:
            return "every goal reached or justified";
        case gen::Stop::executions:
            return "--max-executions " + with_commas(o.max_executions) + " reached";
        case gen::Stop::time:
            return "--time-budget " + seconds(o.time_budget) + " spent";
        case gen::Stop::plateau:
            return std::to_string(g.progress.plateaus) + " plateaus, the last " + with_commas(g.progress.plateau) +
                   " executions without a new goal, component state or nearer distance, with cases up to " +
                   std::to_string(g.progress.steps_cap) + " steps";
        case gen::Stop::halted:
            return std::to_string(g.barren) + " cases in a row killed the search's process with nothing new found "
                   "between them (" + std::to_string(g.deaths) + " deaths in all)";
        case gen::Stop::avoided:
            return "every case the search could make repeats one that killed its process (" +
                   std::to_string(g.deaths) + " deaths)";
    }
    return "";
}

std::string goal_line(const GoalSlot& g) {
    std::string s = "ID " + std::to_string(g.id) + " " + gen::goal_label(g);
    if (g.info) s += "  " + g.info->criterion + "  " + g.info->meaning;
    return s;
}

// A file of found cases is written when there are any; otherwise a stale
// one (--force) is removed, since it would tell of cases this run did not have.
void write_found(const std::string& path, const std::string& text, bool none) {
    if (none)
        std::remove(path.c_str());
    else
        gen::write_atomically(path, text);
}

int generate(const GenerateCommand& o) {
    gen::check_writable(o.output, o.force);
    const std::string crashes_path = gen::beside_suite(o.output, "crashes");
    const std::string closest_path = gen::beside_suite(o.output, "closest");
    gen::check_writable(crashes_path, o.force);
    gen::check_writable(closest_path, o.force);
    // No output may be one of the command's inputs, --force or not.
    std::vector<std::string> inputs{o.library, o.catalog.empty() ? catalog_path_for(o.library) : o.catalog};
    inputs.insert(inputs.end(), o.justify.begin(), o.justify.end());
    const std::string unproven = o.unproven.empty() ? unproven_beside(o.library) : o.unproven;
    if (!unproven.empty()) inputs.push_back(unproven);
    check_outputs({{"-o", o.output}, {"the crashes file", crashes_path}, {"the closest-cases file", closest_path}},
                  inputs);
    Target target(o.library, o.catalog.empty() ? std::nullopt : std::optional<std::string>(o.catalog));
    const Schema& schema = target.schema();
    if (!target.catalog().present())
        throw Error("generate needs the library's catalog (" + catalog_path_for(o.library) +
                    ") for its scopes and inputs; give it with --catalog");
    const std::vector<Justification> justified = load_justifications(o.justify, schema);
    std::vector<std::optional<Unsettled>> unsettled(schema.goals.size());
    if (!unproven.empty())
        for (auto& u : load_unproven(unproven, schema))
            unsettled[u.goal] = std::move(u.what);

    // The unit's comparison constants and case labels, from the catalog
    // (empty in a catalog written before they were recorded).
    gen::Runner runner(target, target.catalog().constants);
    McdcSetup mcdc;
    if (o.mcdc) {
        mcdc = prepare_mcdc(target, {}, true);
        runner.watch_decisions(mcdc.watched);
    }
    gen::GenerateOptions go;
    go.seed = o.seed;
    go.limits.max_executions = o.max_executions;
    go.limits.seconds = o.time_budget;
    go.limits.plateau = o.plateau;
    go.limits.max_steps = o.max_steps;
    go.limits.needed_steps = o.max_steps_given ? 0 : kNeededSteps;
    go.limits.first_steps = std::min<std::size_t>(go.limits.first_steps, o.max_steps);
    go.step_timeout = o.step_timeout;
    go.mcdc = mcdc.expressions;
    go.wanted.assign(schema.goals.size(), 1);
    for (const auto& j : justified)
        go.wanted[j.goal] = 0;
    // Progress for a person watching a terminal, on one line rewritten in place.
    const bool ticking = !o.quiet && isatty(STDERR_FILENO);
    if (ticking)
        go.on_tick = [total = schema.goals.size()](const gen::Progress& p, double seconds) {
            std::fprintf(stderr,
                         "\rgenerate: %.0f s, %s executions, %zu of %zu goals reached, last new goal at %.1f s\x1b[K",
                         seconds, with_commas(p.executions).c_str(), p.reached, total, p.seconds_to_last_goal);
        };
    const gen::Generated g = gen::generate(runner, go);
    if (ticking) std::fputs("\r\x1b[K", stderr);

    std::vector<std::size_t> rarity(schema.goals.size(), 0);
    for (const auto& e : g.corpus)
        for (std::size_t i = 0; i < rarity.size(); ++i)
            rarity[i] += e.reached[i] != 0;
    std::vector<uint8_t> in_suite(schema.goals.size(), 0);
    std::size_t steps = 0;
    for (const auto& c : g.suite) {
        steps += c.steps.size();
        for (std::size_t i = 0; i < in_suite.size(); ++i)
            in_suite[i] |= c.seen.reached[i] != 0;
    }
    const auto reached = static_cast<std::size_t>(std::count(in_suite.begin(), in_suite.end(), 1));

    std::ostringstream head;
    head << "Generated by kivrun generate --seed " << o.seed << ": " << count(g.suite.size(), "case", "cases") << ", "
         << count(steps, "step", "steps") << ", reaching " << reached << " of " << schema.goals.size() << " goals.\n"
         << "The expect columns hold the outputs observed on this build: a regression baseline, not requirements.\n"
         << "Review them before trusting them as such. The note says which goals each case is in the suite for.\n";
    gen::write_atomically(o.output, gen::suite_csv(schema, runner, g.suite, rarity, head.str()));
    std::vector<gen::Found> crashes;
    for (std::size_t i = 0; i < g.crashes.size(); ++i)
        crashes.push_back({"crash_" + std::to_string(i + 1), g.crashes[i].steps, g.crashes[i].what()});
    write_found(crashes_path, gen::found_csv(schema, runner, crashes,
                                             "Cases that killed the library during kivrun generate --seed " +
                                                 std::to_string(o.seed) + ", each up to the step that died.\n"),
                crashes.empty());

    // Goals not reached: justified, or missed with the evidence of the search.
    std::vector<const Justification*> why(schema.goals.size(), nullptr);
    for (const auto& j : justified)
        why[j.goal] = &j;
    std::vector<std::size_t> open, just, warned;
    for (std::size_t i = 0; i < schema.goals.size(); ++i) {
        if (in_suite[i] && why[i]) warned.push_back(i);
        if (!in_suite[i]) (why[i] ? just : open).push_back(i);
    }
    // The evidence for a missed goal is the case that came nearest, written
    // out so that kivrun run can replay it: closest_<n> for search case n.
    const std::vector<gen::Closest> near = gen::closest(g.corpus, schema.goals.size());
    std::map<std::size_t, std::string> nearest;  // corpus entry -> the goals it came nearest to
    for (std::size_t i : open)
        if (near[i].distance != gen::kFar) nearest[near[i].entry] += " " + gen::goal_label(schema.goals[i]);
    std::vector<gen::Found> closest;
    for (const auto& [entry, goals] : nearest)
        closest.push_back({"closest_" + std::to_string(entry + 1), g.corpus[entry].steps, "nearest to" + goals});
    write_found(closest_path, gen::found_csv(schema, runner, closest,
                                             "Cases of kivrun generate --seed " + std::to_string(o.seed) +
                                                 " that came nearest to the goals it missed.\n"),
                closest.empty());
    std::ostream& out = std::cout;
    const auto proven = std::count_if(just.begin(), just.end(), [&](std::size_t i) { return why[i]->proven(); });
    out << "kivrun generate: " << reached << " of " << schema.goals.size() << " goals reached, " << just.size()
        << " justified" << (proven ? " (" + std::to_string(proven) + " proven)" : std::string()) << ", " << open.size()
        << " missed (seed " << o.seed << ")\n";
    out << "search: " << with_commas(g.progress.executions) << " executions, " << with_commas(g.progress.steps)
        << " steps; last new goal after " << with_commas(g.progress.last_new_goal) << " executions, "
        << seconds(g.progress.seconds_to_last_goal) << "; " << g.progress.states << " component states; "
        << seconds(g.seconds) << " with minimisation\n";
    out << "stopped: " << stop_text(g.stop, o, g) << "\n";
    for (uint32_t k = 0; k < g.progress.held_back; ++k)
        if (const uint32_t i = g.progress.held_back_goals[k]; !in_suite[i] && !why[i])
            out << "note: " << gen::goal_label(schema.goals[i]) << " was still coming nearer at the last step of a case of "
                << g.progress.steps_cap << " steps, the longest allowed; a longer --max-steps may reach it\n";
    out << "suite: " << o.output << ", " << count(g.suite.size(), "case", "cases") << ", " << count(steps, "step", "steps")
        << " (expectations observed on this build: review them)"
        << (g.shortened ? "" : "; not shortened, since shortening killed the process") << "\n";
    if (o.mcdc) {
        gen::Pairs shown(mcdc.expressions);
        for (const auto& c : g.suite)
            shown.note(c.seen.vectors);
        out << "mcdc: " << shown.shown() << " of " << shown.total()
            << " conditions shown independent by the suite (check with kivrun run --mcdc)\n";
    }
    if (!g.crashes.empty())
        out << "crashes: " << count(g.deaths, "case", "cases") << " killed the library, " << count(g.crashes.size(), "kind", "kinds")
            << ", written to " << crashes_path << "\n";
    // A wrong reason or proof hides a gap: an error, as in kivrun run.
    for (std::size_t i : warned)
        out << "error: " << gen::goal_label(schema.goals[i]) << " is " << (why[i]->proven() ? "proven" : "justified")
            << " unreachable (" << why[i]->file << ":" << why[i]->line << ") but the search reached it\n";
    if (!o.quiet) {
        for (const auto& f : g.crashes)
            out << "  crash: " << f.what() << "\n";
        if (!just.empty()) out << "\nGoals not reached, justified (" << just.size() << "):\n";
        for (std::size_t i : just)
            out << "  " << goal_line(schema.goals[i]) << "\n      " << (why[i]->proven() ? "proven: " : "reason: ")
                << why[i]->reason << "\n";
    }
    if (!open.empty()) {
        out << "\nGoals missed (" << open.size() << "): no input found in " << with_commas(g.progress.executions)
            << " executions, " << g.progress.states << " distinct component states seen\n";
        for (std::size_t i : open) {
            out << "  " << goal_line(schema.goals[i]) << "\n";
            if (unsettled[i]) out << "      unknown: " << unsettled_text(*unsettled[i]) << "\n";
            if (near[i].distance != gen::kFar)
                out << "      closest: " << with_commas(near[i].distance) << " away, at step " << near[i].step + 1
                    << " of case closest_" << near[i].entry + 1 << " ("
                    << count(g.corpus[near[i].entry].steps.size(), "step", "steps") << ") in " << closest_path
                    << "\n";
        }
    }
    return open.empty() && g.crashes.empty() && warned.empty() ? 0 : 1;
}

}  // namespace

void add_generate_command(CLI::App& app, Action& action) {
    auto opts = std::make_shared<GenerateCommand>();
    GenerateCommand& o = *opts;
    auto* cmd = app.add_subcommand(
        "generate", "Search inputs that reach every goal and write a minimised suite with observed expectations");
    cmd->add_option("library", o.library, "The harness library (.so)")->required();
    cmd->add_option("-o,--output", o.output, "The suite to write (CSV); crashes go to SUITE.crashes.csv, the cases nearest to missed goals to SUITE.closest.csv")->required();
    cmd->add_option("--catalog", o.catalog, "Catalog JSON (default: beside the library, .so -> .catalog.json)");
    cmd->add_option("--seed", o.seed, "Seed of the search; the same seed gives the same suite")
        ->check(whole_number(0, UINT64_MAX));
    cmd->add_option("--time-budget", o.time_budget, "Seconds the search may take")
        ->check(real_number(0.001, 1e9))
        ->default_str("no limit");
    cmd->add_option("--max-executions", o.max_executions, "Cases the search may run")
        ->check(whole_number(1, UINT64_MAX))
        ->default_str("no limit");
    cmd->add_option("--plateau", o.plateau,
                    "Executions without a new goal, state or nearer distance that make a plateau, for a small unit "
                    "and short cases (it grows with both); the search stops after two plateaus at full case length")
        ->check(whole_number(1, 1000000000));
    cmd->add_option("--max-steps", o.max_steps,
                    "Steps a case may grow to (default: 256, and up to " + std::to_string(kNeededSteps) +
                        " while a goal still comes nearer at a case's last step)")
        ->check(whole_number(1, kNeededSteps))
        ->each([opts](const std::string&) { opts->max_steps_given = true; });
    cmd->add_option("--step-timeout", o.step_timeout, "Seconds a step may take")->check(real_number(0.001, 3600.0));
    cmd->add_option("--justify", o.justify, "CSV of goals no input can reach, with reasons (repeatable)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    cmd->add_option("--unproven", o.unproven,
                    "CSV of the goals kivinst could not prove unreachable, shown with the goals missed "
                    "(default: <name>.unproven.csv beside lib<name>.so or in its <name>_harness folder)")
        ->type_name("FILE");
    cmd->add_flag("--mcdc", o.mcdc,
                  "Also search for cases that show a condition's MC/DC independence pair, and keep them");
    cmd->add_flag("--force", o.force, "Overwrite an existing output file");
    cmd->add_flag("-q,--quiet", o.quiet, "Summary only: no lists of crashes and justified goals, and no progress on a terminal");
    cmd->callback([&action, opts] { action = [opts] { return generate(*opts); }; });
}

}  // namespace kiv
