// Fresh-state test cases through kivrun's own execution path.
#include "benchmarks.h"

namespace kivbench {

void register_host_benchmarks() {}

}  // namespace kivbench
