// kivrun's command line: parses it, runs the chosen command and returns the
// process's exit code.
#pragma once

namespace kiv {

int command_line(int argc, char** argv);

}  // namespace kiv
