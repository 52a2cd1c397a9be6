// kivrun's command line: parses it, runs the chosen command and returns the
// process's exit code.
#pragma once

#include <string>
#include <vector>

namespace kiv {

int command_line(int argc, char** argv);

// The arguments kivrun was started with, after the program's name; a result
// records them.
const std::vector<std::string>& invocation();

}  // namespace kiv
