// Helpers of kivrun's tests: temporary suite files, running the built kivrun
// binary as a user would, and checking how a malformed input is rejected.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "kivrun.h"

namespace kivtest {

// A file under the test's own temporary directory, holding text.
inline std::string write_file(const std::string& name, const std::string& text) {
    // Removed with everything in it when the test process ends.
    static const struct Dir {
        std::string path = ::testing::TempDir() + "kivrun_test_" + std::to_string(getpid());
        Dir() { std::filesystem::create_directories(path); }
        ~Dir() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } dir;
    const std::string path = dir.path + "/" + name;
    std::ofstream(path) << text;
    return path;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Outcome {
    int code = -1;
    std::string out, err;
};

// Runs a shell command line and collects its output.
inline Outcome run_command(const std::string& command) {
    const std::string out = write_file("stdout.txt", ""), err = write_file("stderr.txt", "");
    const int status = std::system((command + " >'" + out + "' 2>'" + err + "' </dev/null").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
}

// Runs kivrun with the given arguments (shell words) and collects its output.
inline Outcome kivrun(const std::string& args) {
    return run_command(std::string(KIVRUN_PATH) + " " + args);
}

// A report as its golden file holds it: the source and build folders as
// <ROOT> and <BUILD>, and times, dates and build identities as 0.
inline std::string normalised(std::string text) {
    const std::string root = KIV_SOURCE_DIR, build = std::filesystem::path(KIV_LIBRARY_PATH).parent_path().string();
    for (const auto& [from, to] : {std::pair{build, "<BUILD>"}, std::pair{root, "<ROOT>"}})
        for (std::size_t at; (at = text.find(from)) != std::string::npos;)
            text.replace(at, from.size(), to);
    static const std::pair<std::regex, const char*> kVarying[] = {
        {std::regex(R"re((time|timestamp)="[^"]*")re"), R"re($1="0")re"},
        {std::regex(R"re("(seconds|parse_seconds|run_seconds|report_seconds)": [-+.e0-9]+)re"), R"re("$1": 0)re"},
        {std::regex(R"re("(started|library_id|catalog_id)": "[^"]*")re"), R"re("$1": "0")re"},
        {std::regex(R"re(("role": "(library|catalog)",\s*"sha256": )"[^"]*")re"), R"re($1"0")re"},
        {std::regex(R"re("command_line": \[[^\]]*\])re"), R"re("command_line": [])re"},
        {std::regex(R"re([0-9.]+ s \(parse [0-9.]+, run [0-9.]+, report [0-9.]+;)re"), "0 s (parse 0, run 0, report 0;"},
    };
    for (const auto& [pattern, replacement] : kVarying)
        text = std::regex_replace(text, pattern, replacement);
    return text;
}

// Compares a written report with tests/host/data/<golden>; KIV_GENGOLDEN=1
// in the environment rewrites the golden file instead.
inline void expect_golden(const std::string& text, const std::string& golden) {
    const std::string path = std::string(KIV_SOURCE_DIR) + "/tests/host/data/" + golden, got = normalised(text);
    if (std::getenv("KIV_GENGOLDEN")) std::ofstream(path) << got;
    EXPECT_EQ(got, read_file(path)) << "differs from " << golden << "; KIV_GENGOLDEN=1 regenerates it";
}

// A malformed input file and where and what its first diagnostic must say.
struct Malformed {
    const char* name;
    const char* text;
    const char* where;  // "line:column"
    const char* says;
};

// Parses m.text, read as `file`, with `parse` and expects it rejected with its
// first problem located at m.where and saying m.says.
template <class Parse>
void expect_rejected(Parse parse, const std::string& file, const Malformed& m) {
    try {
        parse(m.text);
        FAIL() << "accepted:\n" << m.text;
    } catch (const kiv::SuiteError& e) {
        ASSERT_FALSE(e.diagnostics.empty());
        const auto& d = e.diagnostics.front();
        EXPECT_EQ(std::to_string(d.line) + ":" + std::to_string(d.column), m.where) << d.str();
        EXPECT_NE(d.message.find(m.says), std::string::npos) << d.str();
        EXPECT_EQ(d.str().rfind(file + ":" + std::string(m.where) + ": ", 0), 0u) << d.str();
    }
}

}  // namespace kivtest
