// Suite files: CSV tables of steps, checked against the library's schema and
// compiled into a Plan before anything runs.
#pragma once

#include "suite/plan.h"
#include "load/target.h"

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct SuiteOptions {
    bool wrap = false;  // take values the library would store modulo 256 (or as non-zero)
};

// Parses one suite text and appends its cases to plan. Throws SuiteError with
// every problem found (file:line:column and what was expected); on error the
// plan is left as it was.
void parse_suite(const std::string& file, const std::string& text, const Schema& schema, const SuiteOptions& options,
                 Plan& plan);

// Reads and parses every file; an unreadable file is a diagnostic like any
// other. Throws SuiteError listing the problems of all files.
Plan load_suites(const std::vector<std::string>& files, const Schema& schema, const SuiteOptions& options);

// A name without its scope: "runa1.SeatOccupied" -> "SeatOccupied".
std::string_view short_name(std::string_view name);

}  // namespace kiv
