// kivinst harness: the facts of a unit's sources (see model.h).
#pragma once

#include <string>
#include <vector>

#include "model.h"

namespace kivinst::harness {

// Parses facts.sources and facts.environment with the compiler arguments and
// fills facts.functions and facts.globals. Throws BadInput when a source does
// not parse (the compiler's diagnostics are on stderr) or defines what another
// source defines.
void collect_facts(const std::vector<std::string>& compiler_args, Facts& facts);

}  // namespace kivinst::harness
