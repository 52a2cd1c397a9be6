// Helpers of kivrun's tests: temporary suite files and running the built
// kivrun binary as a user would.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace kivtest {

// A file under the test's own temporary directory, holding text.
inline std::string write_file(const std::string& name, const std::string& text) {
    static const std::string dir = [] {
        std::string d = ::testing::TempDir() + "kivrun_test_" + std::to_string(getpid());
        std::system(("mkdir -p '" + d + "'").c_str());
        return d;
    }();
    const std::string path = dir + "/" + name;
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
    const int status = std::system((std::string(KIVRUN_PATH) + " " + args + " >'" + out + "' 2>'" + err + "' </dev/null").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
}

}  // namespace kivtest
