// Writing suites back as CSV, shared by --record and generate, so both write
// what the suite reader reads back unchanged.
#pragma once

#include "load/target.h"

#include <cstdint>
#include <string>

namespace kiv {

// A cell as the reader takes it back: quoted when it holds a separator
// (comma or semicolon), a quote, a line break, edge spaces or a leading '#'.
std::string csv_field(const std::string& s);

// The name a suite gives a scope: its short name, or the UID without one.
std::string scope_name(const Schema& schema, int32_t uid);

}  // namespace kiv
