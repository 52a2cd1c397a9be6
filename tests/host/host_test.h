// Helpers of kivrun's tests: temporary suite files and running the built
// kivrun binary as a user would.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

// Runs kivrun with the given arguments (shell words) and collects its output.
inline Outcome kivrun(const std::string& args) {
    const std::string out = write_file("stdout.txt", ""), err = write_file("stderr.txt", "");
    const int status =
        std::system((std::string(KIVRUN_PATH) + " " + args + " >'" + out + "' 2>'" + err + "' </dev/null").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
}

}  // namespace kivtest
