// kivrun's subcommands: each registers its options with the command line and,
// when chosen, leaves the action that runs it. A new command adds one line to
// kCommands and keeps its code in a file of its own here, above the
// concerns it wires together.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

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

// Moves x where no destructor reaches it, for a command about to end the
// process: freeing a large plan or result node by node would only delay the
// exit. It stays reachable, so leak checkers do not count it.
template <class T>
void keep_until_exit(T&& x) {
    static auto* kept = new std::vector<std::shared_ptr<void>>;
    kept->push_back(std::make_shared<std::decay_t<T>>(std::forward<T>(x)));
}

inline constexpr AddCommand kCommands[] = {add_info_command, add_run_command, add_report_command,
                                           add_generate_command, add_merge_command, add_diff_command};

}  // namespace kiv
