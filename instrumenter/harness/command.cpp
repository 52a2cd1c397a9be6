// kivinst harness: the command. Generates the unit set into a folder beside
// DIR, builds it there through cmake/KivHarness.cmake unless --no-build, and
// only then swaps it in: DIR is complete or untouched.
#include "command.h"

#include <CLI/CLI.hpp>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "files.h"
#include "generate.h"
#include "instrument.h"
#include "model.h"

namespace kivinst::harness {

namespace fs = std::filesystem;

namespace {

// Lists, one per line relative to DIR, every file kivinst harness wrote
// there: DIR is replaced only when it holds nothing else.
const char* const kManifest = ".kivinst-files";

void write(const fs::path& path, const std::string& text) {
    if (!path.parent_path().empty()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) throw std::runtime_error(path.string() + ": cannot be written");
}

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A CMake bracket argument holds any path without escaping, given a
// bracket the path does not hold.
std::string cmake_quote(const std::string& s) {
    std::string eq = "=";
    while (s.find("]" + eq + "]") != std::string::npos) eq += "=";
    return "[" + eq + "[" + s + "]" + eq + "]";
}

std::string self_path(const char* argv0) {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return p.string();
    return fs::absolute(argv0).string();
}

// Installed, kivinst is <prefix>/bin/kivinst and the recipe with its package
// config <prefix>/lib/cmake/KivHarness, wherever the prefix was moved.
std::string installed_cmake_dir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "";
    const fs::path dir = exe.parent_path().parent_path() / "lib" / "cmake" / "KivHarness";
    return fs::exists(dir / "KivHarnessConfig.cmake", ec) ? dir.string() : "";
}

std::string cmake_dir() {
    if (const char* e = std::getenv("KIV_CMAKE_DIR")) return e;
    if (std::string d = installed_cmake_dir(); !d.empty()) return d;
#ifdef KIVINST_CMAKE_DIR
    return KIVINST_CMAKE_DIR;
#else
    return "";
#endif
}

// The package config where there is one: it tells the recipe where the
// installed runtime sources are.
std::string recipe() {
    const std::string dir = cmake_dir();
    std::error_code ec;
    if (fs::exists(fs::path(dir) / "KivHarnessConfig.cmake", ec)) return dir + "/KivHarnessConfig.cmake";
    return dir + "/KivHarness.cmake";
}

// CMake's findings about the compilers, written by the build this kivinst
// belongs to (<recipe folder>/toolchain/<CMake version>/), put into a new
// build folder so that its configure skips the compiler checks: a second of
// a harness build that takes two. Not where CC or CXX asks for another
// compiler; a CMake of another version finds nothing of its own there and
// checks as usual.
void seed_toolchain(const fs::path& build) {
    if (std::getenv("CC") != nullptr || std::getenv("CXX") != nullptr) return;
    std::error_code ec;
    const fs::path toolchain = fs::path(cmake_dir()) / "toolchain";
    if (!fs::is_directory(toolchain, ec)) return;
    for (const auto& version : fs::directory_iterator(toolchain, ec)) {
        const fs::path into = build / "CMakeFiles" / version.path().filename();
        fs::create_directories(into);
        for (const auto& f : fs::directory_iterator(version.path()))
            fs::copy_file(f.path(), into / f.path().filename(), fs::copy_options::overwrite_existing);
    }
    std::ofstream(build / "CMakeCache.txt") << "CMAKE_PLATFORM_INFO_INITIALIZED:INTERNAL=1\n";
}

// The leader of a command's process group: kills the whole group, itself
// included, when kivinst dies.
extern "C" void kill_group(int) {
    ::kill(0, SIGKILL);
}

// Runs a shell command in a process group of its own that dies with kivinst
// however kivinst dies (a SIGKILL too): the group's leader asks the kernel
// for a signal on its parent's death and passes SIGKILL on to the group, so
// no cmake or compiler outlives the run that started it. 0 on success.
int run(const std::string& command) {
    const pid_t parent = ::getpid();
    const pid_t leader = ::fork();
    if (leader < 0) return 1;
    if (leader == 0) {
        ::setpgid(0, 0);
        ::signal(SIGUSR1, kill_group);
        ::prctl(PR_SET_PDEATHSIG, SIGUSR1);
        if (::getppid() != parent) kill_group(0);
        const pid_t shell = ::fork();
        if (shell == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        while (shell > 0 && ::waitpid(shell, &status, 0) < 0 && errno == EINTR) {
        }
        ::_exit(shell > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    }
    int status = 0;
    while (::waitpid(leader, &status, 0) < 0)
        if (errno != EINTR) return 1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

// Every file below dir (links included, folders not), relative, as '/' paths.
std::vector<std::string> files_below(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_symlink() || !e.is_directory()) out.push_back(fs::relative(e.path(), dir).generic_string());
    return out;
}

// Empty when DIR may be replaced: it does not exist, holds no file (Ninja
// makes the folders of a rule's outputs before it runs the rule), or holds
// only files its manifest lists. Else the complaint naming what stands in the way.
std::string why_not_replaceable(const fs::path& dir, const std::string& given) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec))) return "";
    if (!fs::is_directory(dir, ec)) return given + " exists and is not a folder";
    std::set<std::string> listed;
    if (fs::exists(dir / kManifest)) {
        std::istringstream lines(read_bounded((dir / kManifest).string(), 16u << 20));
        for (std::string line; std::getline(lines, line);) listed.insert(line);
    }
    for (const auto& f : files_below(dir))
        if (f != kManifest && !listed.count(f))
            return given + " holds " + printable((dir / f).string()) + ", which kivinst harness did not write";
    return "";
}

// Temporary and old folders of earlier runs that died (killed, say) before
// their cleanup: .DIR.kivinst-PID and .DIR.old-PID beside DIR whose process is
// gone and which hold kivinst's manifest.
void remove_stale(const fs::path& dir) {
    std::error_code ec;
    const std::string base = "." + dir.filename().string() + ".";
    for (const auto& e : fs::directory_iterator(dir.parent_path(), ec)) {
        const std::string n = e.path().filename().string();
        if (n.rfind(base, 0) != 0) continue;
        std::string rest = n.substr(base.size());
        for (const char* kind : {"kivinst-", "old-"})
            if (rest.rfind(kind, 0) == 0) rest = rest.substr(std::string(kind).size());
        if (rest.empty() || rest.size() > 9 || rest.find_first_not_of("0123456789") != std::string::npos) continue;
        if (rest == n.substr(base.size())) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(rest));
        if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        if (fs::exists(e.path() / kManifest, ec)) fs::remove_all(e.path(), ec);
    }
}

// Names kivinst writes into generated C and CMake text.
std::string why_unusable(const std::string& path) {
    if (std::string why = unusable_name(path); !why.empty()) return why;
    if (path.find(';') != std::string::npos) return "it holds ';', which CMake reads as a list separator";
    return "";
}

std::string shell_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The tiny project that builds DIR through the one recipe; with unit_set,
// from the unit set just written there rather than generating it again.
std::string project(const Options& o, const Generated& g, const std::string& kivinst, const fs::path& out,
                    const fs::path& map, const fs::path& unit_set = {}) {
    std::ostringstream p;
    p << "# Builds lib" << g.name << ".so through kiv_add_harness; written by kivinst harness.\n"
      << "cmake_minimum_required(VERSION 3.20)\nproject(kivharness_" << g.name << " C CXX)\n"
      << "set(KIVINST_EXECUTABLE " << cmake_quote(kivinst) << ")\n"
      << "include(" << cmake_quote(recipe()) << ")\n"
      << "kiv_add_harness(" << g.name << "\n  OUTPUT_DIRECTORY " << cmake_quote(out.string()) << "\n  SOURCES";
    for (const auto& s : o.sources) p << " " << cmake_quote(fs::absolute(s).string());
    if (!o.entries.empty()) {
        p << "\n  ENTRIES";
        for (const auto& e : o.entries) p << " " << e;
    }
    if (!o.unit_file.empty()) p << "\n  UNIT " << cmake_quote(fs::absolute(o.unit_file).string());
    if (!o.includes.empty()) {
        p << "\n  INCLUDES";
        for (const auto& i : o.includes) p << " " << cmake_quote(fs::absolute(i).string());
    }
    if (!o.defines.empty()) {
        p << "\n  DEFINES";
        for (const auto& d : o.defines) p << " " << cmake_quote(d);
    }
    p << "\n  MAP " << cmake_quote(map.string());
    p << "\n  ROOT " << cmake_quote(fs::absolute(o.root).string());
    if (!unit_set.empty()) p << "\n  UNIT_SET " << cmake_quote(unit_set.string());
    p << ")\n";
    return p.str();
}

}  // namespace

int command(int argc, char** argv) {
    CLI::App app{
        "kivinst harness: a complete harness library and catalog for a C unit.\n"
        "  kivinst harness [-I DIR]... [-D NAME[=V]]... [--entry FUNC]... [--unit UNIT.json] -o DIR SOURCE.c..."};
    app.name("kivinst harness");
    Options o;
    bool no_build = false;
    std::string depfile;
    app.add_option("-I", o.includes, "include directory")->allow_extra_args(false);
    app.add_option("-D", o.defines, "macro definition")->allow_extra_args(false);
    app.add_option("--entry", o.entries, "entry function: a scope of its own (default: what the unit does not call)")
        ->allow_extra_args(false);
    app.add_option("--unit", o.unit_file, "unit file: overrides of what is inferred")->check(CLI::ExistingFile);
    app.add_option("-o,--output", o.out_dir, "the harness folder")->required();
    app.add_option("--name", o.name, "the library is lib<NAME>.so (default: the unit file's name, else the first source's)");
    app.add_option("--root", o.root, "positions in the sites files are relative to this folder")->capture_default_str();
    app.add_option("--map", o.map, "the ID map file (default: beside the unit file, else in DIR)");
    app.add_option("--prove-seconds", o.prove_seconds,
                   "processor time the behaviour prover may take per source; running out proves nothing more")
        ->check(CLI::Range(0.001, 3600.0))
        ->capture_default_str();
    app.add_option("--depfile", depfile,
                   "write a Make depfile: DIR/kivinst.stamp depends on every file read (sources, headers)");
    app.add_flag("--no-build", no_build, "write DIR/unit and the ID map only (what kiv_add_harness runs)");
    app.add_option("sources", o.sources, "the unit's C sources")->required();
    app.set_version_flag("--version", "kivinst " KIVINST_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "kivinst harness: " << e.what() << "\n";
        return 2;
    }

    const fs::path dir = fs::absolute(o.out_dir).lexically_normal();
    {
        std::vector<std::string> named = o.sources;
        named.insert(named.end(), o.includes.begin(), o.includes.end());
        for (const std::string& p : {o.unit_file, o.out_dir, o.map, o.root, depfile}) named.push_back(p);
        for (const auto& p : named) {
            if (p.empty()) continue;
            const std::string why = why_unusable(fs::absolute(p).string());
            if (why.empty()) continue;
            std::cerr << "kivinst harness: " << printable(p) << ": the name cannot be written into C and CMake: "
                      << why << "; rename it\n";
            return 2;
        }
    }
    // DIR is replaced whole: nothing the unit is made of may live in it.
    auto inside_dir = [&](const std::vector<std::string>& files) {
        const fs::path real_dir = fs::weakly_canonical(dir);
        for (const auto& in : files) {
            const fs::path rel = fs::weakly_canonical(fs::absolute(in)).lexically_relative(real_dir);
            if (rel.empty() || *rel.begin() == "..") continue;
            std::cerr << "kivinst harness: " << printable(in) << " is inside " << o.out_dir
                      << ", which is replaced whole: keep the unit's files outside the harness folder; nothing deleted\n";
            return false;
        }
        return true;
    };
    auto no_clash = [&](const std::string& map, const std::vector<std::string>& inputs) {
        std::vector<NamedOutput> outputs;
        if (!map.empty()) outputs.push_back({"--map", map});
        if (!depfile.empty()) outputs.push_back({"--depfile", depfile});
        const std::string clash = output_clash(outputs, inputs);
        if (!clash.empty()) std::cerr << "kivinst harness: " << clash << "; nothing written\n";
        return clash.empty();
    };
    {
        std::vector<std::string> named = o.sources;
        if (!o.unit_file.empty()) named.push_back(o.unit_file);
        if (!no_clash(o.map, named)) return 2;
        named.insert(named.end(), o.includes.begin(), o.includes.end());
        if (!inside_dir(named)) return 2;
    }
    try {
        remove_stale(dir);
        if (const std::string why = why_not_replaceable(dir, o.out_dir); !why.empty()) {
            std::cerr << "kivinst harness: " << why
                      << "; give a new or empty folder, or one kivinst harness wrote; nothing deleted\n";
            return 2;
        }
    } catch (const std::exception& e) {
        std::cerr << "kivinst harness: " << o.out_dir << ": " << e.what() << "\n";
        return 2;
    }

    // DIR is replaced whole, so a depfile inside it would go with the old one.
    if (!depfile.empty()) {
        const fs::path d = fs::absolute(depfile).lexically_normal();
        if (const auto rel = d.lexically_relative(dir); !rel.empty() && *rel.begin() != "..") {
            std::cerr << "kivinst harness: --depfile " << depfile << " is inside " << o.out_dir
                      << "; give a place outside the harness folder\n";
            return 2;
        }
    }
    if (!depfile.empty() && !fs::is_directory(fs::absolute(depfile).parent_path())) {
        std::cerr << "kivinst harness: --depfile " << depfile << ": no such folder "
                  << fs::absolute(depfile).parent_path().string() << "\n";
        return 2;
    }

    Generated g;
    try {
        g = generate(o);
    } catch (const BadInput& e) {
        std::cerr << "kivinst harness: " << e.what() << "\n";
        return 2;
    }
    for (const auto& w : g.warnings) std::cerr << w << "\n";

    // Nor may any header the parse read, and no output may be one of them.
    std::vector<std::string> inputs(g.opened.begin(), g.opened.end());
    inputs.insert(inputs.end(), o.sources.begin(), o.sources.end());
    inputs.insert(inputs.end(), g.environment.begin(), g.environment.end());
    if (!o.unit_file.empty()) inputs.push_back(o.unit_file);
    if (!inside_dir(inputs)) return 2;
    if (!no_clash(g.map_path, inputs)) return 2;

    const fs::path tmp = dir.parent_path() / ("." + dir.filename().string() + ".kivinst-" + std::to_string(::getpid()));
    auto cleanup = [&] {
        std::error_code ec;
        fs::remove_all(tmp, ec);
    };
    try {
        fs::remove_all(tmp);
        // The manifest first: a run killed from here on leaves a folder the
        // next run recognises as its own.
        write(tmp / kManifest, "");
        for (const auto& [path, text] : g.files) write(tmp / path, text);
        const bool map_inside = fs::absolute(g.map_path).lexically_normal().parent_path() == dir;
        if (map_inside) write(tmp / fs::path(g.map_path).filename(), g.map_text);
        write(tmp / "kivinst.stamp", "");
        if (!no_build) {
            const fs::path build = tmp / "build";
            // The build generates the unit set again, from the map just written.
            const fs::path map = fs::absolute(g.map_path).lexically_normal();
            const fs::path map_now = map_inside ? tmp / map.filename() : map;
            // The project builds into DIR's final place; the library and the
            // catalog are moved into the new folder before the swap.
            const fs::path staged = tmp / "out";
            if (!map_inside) write(tmp / ".map.json", g.map_text);
            write(tmp / "CMakeLists.txt",
                  project(o, g, self_path(argv[0]), staged, map_inside ? map_now : tmp / ".map.json", tmp));
            std::cerr << "kivinst harness: building lib" << g.name << ".so\n";
            // Ninja where there is one: it starts the build sooner than
            // Make's recursive makefiles.
            const std::string generator = run("command -v ninja > /dev/null 2>&1") == 0 ? " -G Ninja" : "";
            seed_toolchain(build);
            if (run("cmake" + generator + " -S " + shell_quote(tmp.string()) + " -B " + shell_quote(build.string()) +
                    " -DCMAKE_BUILD_TYPE=Release > " + shell_quote((tmp / "build.log").string()) + " 2>&1") ||
                run("cmake --build " + shell_quote(build.string()) + " -j2 >> " +
                    shell_quote((tmp / "build.log").string()) + " 2>&1")) {
                std::cerr << read(tmp / "build.log") << "kivinst harness: the harness does not build; " << o.out_dir
                          << " is untouched\n";
                cleanup();
                return 1;
            }
            for (const auto& f : {"lib" + g.name + ".so", "lib" + g.name + ".catalog.json"})
                if (fs::exists(staged / f)) fs::rename(staged / f, tmp / f);
            fs::remove_all(staged);
            fs::remove_all(build);
            fs::remove(tmp / "build.log");
            // The project stays for a rebuild by hand; it names the final folder.
            fs::remove(tmp / ".map.json");
            write(tmp / "CMakeLists.txt", project(o, g, self_path(argv[0]), dir, map));
        }
        // Files that did not change keep their time, so a build over DIR
        // recompiles only what changed.
        if (fs::exists(dir))
            for (const auto& e : fs::recursive_directory_iterator(tmp)) {
                if (!e.is_regular_file() || e.path().filename() == "kivinst.stamp") continue;
                const fs::path old = dir / fs::relative(e.path(), tmp);
                if (fs::is_regular_file(old) && read(old) == read(e.path()))
                    fs::last_write_time(e.path(), fs::last_write_time(old));
            }
        // Written ahead of the swap and renamed after it: the depfile is new
        // only when the unit set it describes is.
        if (!depfile.empty())
            write(depfile + ".tmp", kivinst::depfile((dir / "kivinst.stamp").string(), {g.opened.begin(), g.opened.end()}));
        const bool map_changes = !map_inside && (!fs::exists(g.map_path) || read(g.map_path) != g.map_text);
        if (map_changes) write(g.map_path + ".tmp", g.map_text);
        std::string manifest;
        for (const auto& f : files_below(tmp))
            if (f != kManifest) manifest += f + "\n";
        write(tmp / kManifest, manifest);
        const fs::path old = dir.parent_path() / ("." + dir.filename().string() + ".old-" + std::to_string(::getpid()));
        if (fs::exists(dir)) fs::rename(dir, old);
        fs::rename(tmp, dir);
        std::error_code ec;
        fs::remove_all(old, ec);
        if (map_changes) fs::rename(g.map_path + ".tmp", g.map_path);
        if (!depfile.empty()) fs::rename(depfile + ".tmp", depfile);
    } catch (const std::exception& e) {
        std::cerr << "kivinst harness: " << e.what() << "; " << o.out_dir << " is untouched\n";
        cleanup();
        std::error_code ec;
        if (!depfile.empty()) fs::remove(depfile + ".tmp", ec);
        fs::remove(g.map_path + ".tmp", ec);
        return 1;
    }
    if (!no_build)
        std::cout << "kivinst harness: " << (dir / ("lib" + g.name + ".so")).string() << " and its catalog, "
                  << g.inputs.size() << " inputs:\n";
    else
        std::cout << "kivinst harness: " << (dir / "unit").string() << ", " << g.inputs.size() << " inputs:\n";
    for (const auto& i : g.inputs) std::cout << "  " << i << "\n";
    return 0;
}

}  // namespace kivinst::harness
