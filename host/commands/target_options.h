// The options every command that opens a library shares (the library, its
// catalog, --no-catalog), and opening the library as they say.
#pragma once

#include "load/target.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

namespace kiv {

struct CommonOptions {
    std::string library;
    std::string catalog;
    bool no_catalog = false;
};

// Loads the library; warns on stderr when it runs without a catalog.
std::unique_ptr<Target> open_target(const CommonOptions& o);

void add_common(CLI::App& cmd, CommonOptions& o);

}  // namespace kiv
