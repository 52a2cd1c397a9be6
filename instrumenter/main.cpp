// kivinst: instruments a C unit for the probe runtime, or proposes a goal
// table for record tables. Exit 0 done, 2 bad input (command line, a file
// that cannot be read or does not parse); nothing is written on failure.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "goals.h"
#include "instrument.h"

namespace {

namespace fs = std::filesystem;

// Written whole or not at all: a reader never sees half a file.
bool write_file(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary);
        out << text;
        if (!out.flush()) {
            std::cerr << "kivinst: " << path << ": cannot be written\n";
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) std::cerr << "kivinst: " << path << ": " << ec.message() << "\n";
    return !ec;
}

}  // namespace

int main(int argc, char** argv) {
    // Everything after "--" goes to the compiler untouched.
    std::vector<std::string> compiler_args;
    int own = argc;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--") {
            own = i;
            compiler_args.assign(argv + i + 1, argv + argc);
            break;
        }

    CLI::App app{
        "kivinst: instrument a C unit for the probe runtime.\n"
        "  kivinst -u N [-o OUT.cpp] [-r RECORDS.def] [-I DIR]... [-D NAME[=VALUE]]... SOURCE.c [-- COMPILER ARGS]\n"
        "  kivinst --goals [--first N] [--skip-function NAME]... RECORDS.def..."};
    bool goals = false;
    int unit = 0, first = 1;
    std::string source, output, records;
    std::vector<std::string> includes, defines, skipped, tables;
    app.add_flag("--goals", goals, "propose a goal table for record tables instead of instrumenting");
    app.add_option("-u,--unit", unit, "translation unit number, the N of TU<N> in record names")->check(CLI::Range(1, 99999));
    app.add_option("-o,--output", output, "instrumented source (default: standard output)");
    app.add_option("-r,--records", records, "record table (default: OUTPUT's stem + _records.def)");
    app.add_option("-I", includes, "include directory")->allow_extra_args(false);
    app.add_option("-D", defines, "macro definition")->allow_extra_args(false);
    app.add_option("--first", first, "--goals: number of the first goal")->check(CLI::PositiveNumber);
    app.add_option("--skip-function", skipped, "--goals: records of this function get no goal")->allow_extra_args(false);
    app.add_option("inputs", tables, "SOURCE.c, or with --goals the record tables")->required();
    try {
        app.parse(own, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "kivinst: " << e.what() << "\n";
        return 2;
    }

    if (goals) {
        try {
            kivinst::GoalOptions g;
            g.first = first;
            g.skipped_functions.insert(skipped.begin(), skipped.end());
            g.tables = tables;
            std::cout << kivinst::propose_goals(g);
            return 0;
        } catch (const kivinst::TableError& e) {
            std::cerr << "kivinst: " << e.what() << "\n";
            return 2;
        }
    }

    if (tables.size() != 1 || unit == 0) {
        std::cerr << "kivinst: give one SOURCE.c and its unit number (-u N)\n";
        return 2;
    }
    source = tables.front();
    if (!fs::is_regular_file(source)) {
        std::cerr << "kivinst: " << source << ": no such file\n";
        return 2;
    }
    if (records.empty()) {
        if (output.empty()) {
            std::cerr << "kivinst: writing the source to standard output needs -r RECORDS.def\n";
            return 2;
        }
        records = (fs::path(output).parent_path() / fs::path(output).stem()).string() + "_records.def";
    }

    kivinst::Options opt;
    opt.unit = unit;
    opt.source = source;
    opt.records_include = fs::path(records).filename().string();
    for (const auto& dir : includes) opt.compiler_args.push_back("-I" + dir);
    for (const auto& def : defines) opt.compiler_args.push_back("-D" + def);
    opt.compiler_args.insert(opt.compiler_args.end(), compiler_args.begin(), compiler_args.end());

    kivinst::Output out;
    if (!kivinst::instrument(opt, out)) {
        std::cerr << "kivinst: " << source << " does not parse; nothing written\n";
        return 2;
    }
    if (!write_file(records, kivinst::records_def(opt, out.records))) return 2;
    if (output.empty()) {
        std::cout << out.source;
        return 0;
    }
    return write_file(output, out.source) ? 0 : 2;
}
