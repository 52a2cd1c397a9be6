// kivinst: instruments a C unit for the probe runtime, or proposes a goal
// table for record tables. Exit 0 done, 2 bad input (command line, a file
// that cannot be read or does not parse); nothing is written on failure.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "cli_numbers.h"
#include "files.h"
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

std::string folder_of(const std::string& file) {
    const std::string dir = fs::path(file).parent_path().string();
    return dir.empty() ? "." : dir;
}

// As a shell takes it back: quoted when it holds anything but the plain
// characters of a path.
std::string shell_word(const std::string& s) {
    if (!s.empty() && s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./+-=,@") ==
                          std::string::npos)
        return s;
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// The -iquote and -I folders among the compiler arguments, in the order a
// quoted include searches them.
std::vector<std::string> quoted_search(const std::vector<std::string>& args) {
    std::vector<std::string> iquote, dirs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        for (auto [flag, into] : {std::pair{std::string("-iquote"), &iquote}, std::pair{std::string("-I"), &dirs}}) {
            if (args[i].rfind(flag, 0) != 0) continue;
            if (args[i].size() > flag.size())
                into->push_back(args[i].substr(flag.size()));
            else if (i + 1 < args.size())
                into->push_back(args[++i]);
            break;
        }
    }
    iquote.insert(iquote.end(), dirs.begin(), dirs.end());
    return iquote;
}

// A quoted include the plain source found beside itself must find the same
// header from the output's folder. A header of that name beside the output
// would be taken first: refused. Otherwise, unless the unit's own flags
// already lead there first, the output needs -iquote for the source's
// folder, which the check then uses and the caller names.
bool output_finds_headers(kivinst::Options& opt, const kivinst::Output& out) {
    const fs::path source_dir = folder_of(opt.source);
    const fs::path output_dir = opt.output.empty() ? source_dir : fs::path(folder_of(opt.output));
    if (out.beside.empty() || same_file(source_dir, output_dir)) return true;
    const std::vector<std::string> search = quoted_search(opt.compiler_args);
    bool needed = false;
    for (const auto& b : out.beside) {
        const fs::path there = output_dir / b.name;
        if (fs::exists(there) && !same_file(there, b.header)) {
            std::cerr << "kivinst: " << opt.source << ":" << b.line << ":" << b.column << ": the output would include "
                      << there.string() << " in place of " << (source_dir / b.name).string()
                      << ": write it to another folder; nothing written\n";
            return false;
        }
        auto first = std::find_if(search.begin(), search.end(),
                                  [&](const std::string& dir) { return fs::exists(fs::path(dir) / b.name); });
        needed |= first == search.end() || !same_file(fs::path(*first) / b.name, b.header);
    }
    if (needed) opt.output_args = {"-iquote", source_dir.string()};
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
        "  kivinst -u N [-o OUT.c] [-r RECORDS.def] [--root DIR] [--depfile FILE] [-I DIR]... [-D NAME[=VALUE]]... SOURCE.c [-- COMPILER ARGS]\n"
        "  kivinst --goals [--first N] [--skip-function NAME]... [--justify-out FILE] RECORDS.def..."};
    bool goals = false;
    int unit = 0, first = 1;
    std::string source, output, records, root = ".", justify_out, depfile;
    std::vector<std::string> includes, defines, skipped, tables;
    app.add_flag("--goals", goals, "propose a goal table for record tables instead of instrumenting");
    app.add_option("-u,--unit", unit, "translation unit number, the N of TU<N> in record names")->check(kiv::whole_number(1, 99999));
    app.add_option("-o,--output", output, "instrumented source (default: standard output)");
    app.add_option("-r,--records", records, "record table (default: OUTPUT's stem + _records.def)");
    app.add_option("--depfile", depfile, "write a Make depfile: OUTPUT (else RECORDS) depends on every file read");
    app.add_option("--root", root, "positions in the sites file are relative to this folder (default: the current one)");
    app.add_option("-I", includes, "include directory")->allow_extra_args(false);
    app.add_option("-D", defines, "macro definition")->allow_extra_args(false);
    // Bounded so that the goals after it still count up within an int.
    app.add_option("--first", first, "--goals: number of the first goal")->check(kiv::whole_number(1, 1000000000));
    app.add_option("--justify-out", justify_out,
                   "--goals: write the goals no input can reach, with the reason, as a kivrun --justify file");
    app.add_option("--skip-function", skipped, "--goals: records of this function get no goal")->allow_extra_args(false);
    app.add_option("inputs", tables, "SOURCE.c, or with --goals the record tables")->required();
    app.set_version_flag("--version", "kivinst " KIVINST_VERSION);
    try {
        app.parse(own, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
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
                if (const std::string clash = kivinst::output_clash({{"--justify-out", justify_out}}, tables);
                    !clash.empty()) {
                    std::cerr << "kivinst: " << clash << "; nothing written\n";
                    return 2;
                }
                const std::string text = p.justification.empty() ? kivinst::proven_justification({}) : p.justification;
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
    // The name goes into the output's #line and #include as it is: C takes any
    // bytes there but a quote, a backslash or a control character (the sites
    // file escapes what is not UTF-8).
    if (const std::string why = kivinst::unusable_name(source, false); !why.empty()) {
        std::cerr << "kivinst: the source's name " << kivinst::printable(source) << " cannot be written into C: " << why
                  << "; rename the file\n";
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
    // Checked before the work, so that a mistyped folder is named as such.
    for (const std::string& file : {output, records, depfile}) {
        if (file.empty() || fs::is_directory(folder_of(file))) continue;
        std::cerr << "kivinst: " << file << ": no such folder " << folder_of(file) << "\n";
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
        if (!out.refusal.empty())
            std::cerr << "kivinst: " << source << ": " << out.refusal << "; nothing written\n";
        else
            std::cerr << "kivinst: " << source << " does not parse; nothing written\n";
        return 2;
    }
    std::vector<std::string> inputs = out.opened;
    inputs.push_back(source);
    std::vector<kivinst::NamedOutput> outputs = {{"-r", records}, {"the sites file", sites}};
    if (!output.empty()) outputs.push_back({"-o", output});
    if (!depfile.empty()) outputs.push_back({"--depfile", depfile});
    if (const std::string clash = kivinst::output_clash(outputs, inputs); !clash.empty()) {
        std::cerr << "kivinst: " << clash << "; nothing written\n";
        return 2;
    }
    if (!output_finds_headers(opt, out)) return 2;
    const std::string table = kivinst::records_def(opt, out.records);
    std::vector<std::string> missing;
    if (!kivinst::compiles(opt, out.source, table, missing)) {
        if (!missing.empty()) {
            for (const auto& m : missing)
                std::cerr << "kivinst: " << m << " is not found from " << folder_of(output.empty() ? source : output)
                          << ", where the output is to be written: give its folder with -I\n";
            std::cerr << "kivinst: nothing written\n";
            return 2;
        }
        std::cerr << "kivinst: internal error: the instrumented " << source
                  << " does not compile where it is to be written (the compiler's diagnostics above, at the plain "
                     "file's positions); nothing written\n";
        return 2;
    }
    std::vector<std::pair<std::string, std::string>> files = {{records, table},
                                                              {sites, kivinst::sites_json(opt, out.records)}};
    if (!output.empty()) files.emplace_back(output, out.source);
    if (!depfile.empty())
        files.emplace_back(depfile, kivinst::depfile(output.empty() ? records : output, out.opened));
    if (!write_files(files)) return 2;
    if (output.empty()) std::cout << out.source;
    if (!opt.output_args.empty()) {
        std::string names;
        for (const auto& b : out.beside) names += (names.empty() ? "" : ", ") + b.name;
        std::cerr << "kivinst: note: " << source << " includes " << names
                  << " from beside it: compile the output with -iquote " << shell_word(folder_of(source)) << "\n";
    }
    return 0;
}
