// Errors kivrun reports to its user: bad input of any kind ends the run with
// exit code 2 before anything runs.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiv {

// The most any file kivrun reads may hold (a suite, a justification file, a
// result, a catalog): an endless or wrong file (/dev/zero, say) is refused
// with a message rather than read until memory runs out.
inline constexpr std::size_t kMaxInputBytes = std::size_t{1} << 30;
inline constexpr const char* kMaxInputText = "1 GiB";

// Unusable input: a missing library or export, an unreadable catalog, a bad
// command line. The message is complete and meant for the user as it is.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One problem in a suite file, located as file:line:column (1-based).
struct Diagnostic {
    std::string file;
    int line = 0;
    int column = 0;
    std::string message;
    std::string str() const {
        if (line <= 0) return file + ": " + message;
        return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
    }
};

// A suite that cannot run: every problem found, in file order.
struct SuiteError : Error {
    explicit SuiteError(std::vector<Diagnostic> d) : Error(join(d)), diagnostics(std::move(d)) {}
    std::vector<Diagnostic> diagnostics;

private:
    static std::string join(const std::vector<Diagnostic>& d) {
        std::string s;
        for (const auto& x : d)
            s += x.str() + "\n";
        return s;
    }
};

}  // namespace kiv
