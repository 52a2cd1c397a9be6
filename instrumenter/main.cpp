// kivinst: instruments a C unit for the probe runtime, or proposes a goal
// table for record tables. Exit 0 done, 2 bad input (command line, a file
// that cannot be read or does not parse); nothing is written on failure.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "cli_numbers.h"
#include "goals.h"
#include "harness/command.h"
#include "instrument.h"

namespace {

namespace fs = std::filesystem;

// Written whole or not at all: every file goes to a temporary beside it
// first, and only when all of them are complete are they renamed in place.
bool write_files(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<std::string> written;
    auto discard = [&] {
        std::error_code ignored;
        for (const auto& tmp : written) fs::remove(tmp, ignored);
    };
    for (const auto& [path, text] : files) {
        const std::string tmp = path + ".tmp";
        std::ofstream out(tmp, std::ios::binary);
        written.push_back(tmp);
        out << text;
        if (!out.flush()) {
            std::cerr << "kivinst: " << path << ": cannot be written\n";
            discard();
            return false;
        }
    }
    for (const auto& [path, text] : files) {
        std::error_code ec;
        fs::rename(path + ".tmp", path, ec);
        if (ec) {
            std::cerr << "kivinst: " << path << ": " << ec.message() << "\n";
            discard();
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "harness") return kivinst::harness::command(argc - 1, argv + 1);
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
        "  kivinst -u N [-o OUT.c] [-r RECORDS.def] [--root DIR] [-I DIR]... [-D NAME[=VALUE]]... SOURCE.c [-- COMPILER ARGS]\n"
        "  kivinst --goals [--first N] [--skip-function NAME]... [--justify-out FILE] RECORDS.def..."};
    bool goals = false;
    int unit = 0, first = 1;
    std::string source, output, records, root = ".", justify_out;
    std::vector<std::string> includes, defines, skipped, tables;
    app.add_flag("--goals", goals, "propose a goal table for record tables instead of instrumenting");
    app.add_option("-u,--unit", unit, "translation unit number, the N of TU<N> in record names")->check(kiv::whole_number(1, 99999));
    app.add_option("-o,--output", output, "instrumented source (default: standard output)");
    app.add_option("-r,--records", records, "record table (default: OUTPUT's stem + _records.def)");
    app.add_option("--root", root, "positions in the sites file are relative to this folder (default: the current one)");
    app.add_option("-I", includes, "include directory")->allow_extra_args(false);
    app.add_option("-D", defines, "macro definition")->allow_extra_args(false);
    // Bounded so that the goals after it still count up within an int.
    app.add_option("--first", first, "--goals: number of the first goal")->check(kiv::whole_number(1, 1000000000));
    app.add_option("--justify-out", justify_out,
                   "--goals: write the goals no input can reach, with the reason, as a kivrun --justify file");
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
            const kivinst::Proposal p = kivinst::propose_goals(g);
            if (!justify_out.empty()) {
                const std::string text = p.justification.empty() ? "goal,reason\n" : p.justification;
                if (!write_files({{justify_out, text}})) return 2;
            }
            std::cout << p.table;
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

    if (!fs::is_directory(root)) {
        std::cerr << "kivinst: --root " << root << ": no such folder\n";
        return 2;
    }
    std::string sites = records;
    const std::string suffix = "_records.def";
    if (sites.size() > suffix.size() && sites.compare(sites.size() - suffix.size(), suffix.size(), suffix) == 0)
        sites.resize(sites.size() - suffix.size());
    else
        sites = (fs::path(records).parent_path() / fs::path(records).stem()).string();
    sites += "_sites.json";

    kivinst::Options opt;
    opt.unit = unit;
    opt.root = root;
    opt.output = output;
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
    const std::string table = kivinst::records_def(opt, out.records);
    if (!kivinst::compiles(opt, out.source, table)) {
        std::cerr << "kivinst: internal error: the instrumented " << source
                  << " does not compile where it is to be written (the compiler's diagnostics above, at the plain "
                     "file's positions; a header beside the plain source needs its folder as -I); nothing written\n";
        return 2;
    }
    std::vector<std::pair<std::string, std::string>> files = {{records, table},
                                                              {sites, kivinst::sites_json(opt, out.records)}};
    if (!output.empty()) files.emplace_back(output, out.source);
    if (!write_files(files)) return 2;
    if (output.empty()) std::cout << out.source;
    return 0;
}
