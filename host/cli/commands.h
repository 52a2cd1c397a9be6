// kivrun's subcommands: each registers its options with the command line and,
// when chosen, leaves the action that runs it. A new command adds one line to
// kCommands and keeps its code in its own concern's folder.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>

namespace kiv {

// Runs the chosen command; its result is kivrun's exit code.
using Action = std::function<int()>;
using AddCommand = void (*)(CLI::App& app, Action& action);

void add_info_command(CLI::App& app, Action& action);
void add_run_command(CLI::App& app, Action& action);
void add_report_command(CLI::App& app, Action& action);
void add_generate_command(CLI::App& app, Action& action);
void add_merge_command(CLI::App& app, Action& action);
void add_diff_command(CLI::App& app, Action& action);

inline constexpr AddCommand kCommands[] = {add_info_command, add_run_command, add_report_command,
                                           add_generate_command, add_merge_command, add_diff_command};

}  // namespace kiv
