// kivinst harness: the subcommand's entry point.
#pragma once

namespace kivinst::harness {

// argv[0] is "harness". Exit status: 0 done, 1 the harness does not build,
// 2 bad input; on 1 and 2 the output folder is untouched.
int command(int argc, char** argv);

}  // namespace kivinst::harness
