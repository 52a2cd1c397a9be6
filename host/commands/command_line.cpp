// kivrun's command line: the options every command shares, the dispatch to
// the chosen command, and the exit code of errors.
#include "commands/command_line.h"
#include "commands/commands.h"
#include "error.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace kiv {

namespace {
std::vector<std::string> arguments;
}  // namespace

const std::vector<std::string>& invocation() {
    return arguments;
}

int command_line(int argc, char** argv) {
    arguments.assign(argv + (argc > 0), argv + argc);
    // Named here, or the usage line would show argv[0], the binary's whole path.
    CLI::App app{
        "kivrun: unit tests for a harness library, from CSV suites, with coverage per criterion.\n"
        "Exit codes: 0 all passed; 1 a check failed, a case crashed or timed out, or coverage fell short "
        "of --fail-under; 2 bad input.",
        "kivrun"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "kivrun " KIV_VERSION);
    // Every option's default shows in --help.
    app.option_defaults()->always_capture_default();
    app.footer(
        "Suites are CSV (comma or semicolon), one row per step: a 'case' column (a new name starts a case "
        "from the library's state at load), a 'scope' column (UID or name; empty repeats the previous), one "
        "column per input (variable ID or name; an empty cell keeps the previous value) and 'expect OUTPUT' "
        "columns (a value, a range 30..35 or a set 0|1; empty: no check); a 'repeat' column runs a row N times, "
        "its checks after the last. Lines starting with # are "
        "comments; a 'note' column is free text. 'kivrun info LIBRARY' lists the names.");
    Action action;
    for (auto add : kCommands)
        add(app, action);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    try {
        const int code = action ? action() : 2;
        // Output that never reached its reader (a full disk, a closed pipe)
        // fails the command, whichever it was.
        std::cout.flush();
        if (!std::cout && code != 2) {
            std::cerr << "kivrun: cannot write to standard output: " << std::strerror(errno) << "\n";
            return 2;
        }
        return code;
    } catch (const SuiteError& e) {
        std::cerr << e.what() << "kivrun: nothing was run\n";
    } catch (const Error& e) {
        std::cerr << "kivrun: " << e.what() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "kivrun: " << e.what() << "\n";
    }
    return 2;
}

}  // namespace kiv
