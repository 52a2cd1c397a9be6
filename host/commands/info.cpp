// `kivrun info LIBRARY`: the library's scopes, inputs, outputs and goal counts.
#include "catalog/catalog.h"
#include "commands/commands.h"
#include "commands/target_options.h"
#include "load/target.h"
#include "model/result.h"
#include "suite/value.h"

#include <iostream>
#include <map>

namespace kiv {

namespace {

using kiv::CommonOptions;

int info(const CommonOptions& o) {
    auto target = open_target(o);
    const kiv::Schema& s = target->schema();
    std::cout << "library: " << o.library
              << "\ncatalog: " << (target->catalog().present() ? target->catalog().path : "none") << "\n";
    for (const auto& sc : target->catalog().scopes) {
        std::cout << "\nscope " << sc.uid << "  " << sc.name << "  (runs " << sc.unit << ")\n";
        for (const auto& in : target->catalog().inputs)
            if (in.scope == sc.uid)
                // A floating type's name is its whole domain; a range would only repeat it.
                std::cout << "  input  " << in.id << "  " << in.name << "  " << in.type.name
                          << (in.setter == kiv::Setter::boolean ? " 0/1"
                              : in.type.floating       ? std::string()
                                                       : " " + std::to_string(in.type.min_int()) + ".." +
                                                             std::to_string(in.type.max_uint()))
                          << enumerators_text(in.type) << "  " << in.variable << " -> " << in.feeds << "\n";
        for (const auto& out : s.outputs)
            if (out.scope == sc.uid)
                std::cout << "  output " << out.name << "  " << out.type.name << enumerators_text(out.type) << "  " << out.variable
                          << (out.address ? "" : "  (no symbol)") << "\n";
    }
    if (!target->catalog().present()) {
        std::cout << "\nwritable IDs:";
        for (const auto& in : s.inputs)
            std::cout << " " << in.id;
        std::cout << "\nharness variables readable by symbol:";
        for (const auto& out : s.outputs)
            std::cout << " " << out.variable;
        std::cout << "\n";
    }
    std::map<std::string, int> per;
    for (const auto& g : s.goals)
        per[g.info ? g.info->criterion : "unclassified"]++;
    std::cout << "\ngoals: " << s.goals.size() << "\n";
    for (const std::string& name : criterion_order())
        if (per.count(name)) std::cout << "  " << name << " " << per[name] << "\n";
    return 0;
}

}  // namespace

void add_info_command(CLI::App& app, Action& action) {
    auto opts = std::make_shared<CommonOptions>();
    auto* cmd = app.add_subcommand("info", "List the library's scopes, inputs, outputs and goal counts");
    add_common(*cmd, *opts);
    cmd->callback([&action, opts] { action = [opts] { return info(*opts); }; });
}

}  // namespace kiv
