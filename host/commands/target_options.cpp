// Opening the library a command names.
#include "commands/target_options.h"

#include <iostream>
#include <optional>

namespace kiv {

std::unique_ptr<Target> open_target(const CommonOptions& o) {
    auto t = std::make_unique<Target>(
        o.library, o.catalog.empty() ? std::nullopt : std::optional<std::string>(o.catalog), !o.no_catalog);
    if (!t->catalog().present())
        std::cerr << "kivrun: warning: "
                  << (o.no_catalog ? std::string("catalog not used (--no-catalog)")
                                   : "no catalog (" + catalog_path_for(o.library) + ")")
                  << ": inputs and goals go by bare ID; scopes, value ranges and names are not checked\n";
    return t;
}

void add_common(CLI::App& cmd, CommonOptions& o) {
    cmd.add_option("library", o.library, "The harness library (.so)")->required();
    cmd.add_option("--catalog", o.catalog, "Catalog JSON (default: beside the library, .so -> .catalog.json)");
    cmd.add_flag("--no-catalog", o.no_catalog, "Ignore any catalog: bare IDs only");
}

}  // namespace kiv
