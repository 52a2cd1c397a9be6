// catalog: the one writer of a harness library's catalog (what each variable
// ID, scope and goal means), from a unit's tables as rows. The compiled
// generator feeds it the rows of hand-kept tables; kivinst harness feeds it
// the rows it writes into the generated ones, so both give the same text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiv::catalog {

// The rows of a unit's tables. Identifiers and types are as the
// preprocessor spells a macro argument it turns into text; names and texts
// as their string literals read.
struct Record {
    std::string kind, name, function, text;
};
struct Variable {
    int n = 0, scope = 0;
    bool in = true;
    bool follows = false;  // INOUT: after a step it holds the unit variable's value
    std::string type, unit_variable, name;
};
struct Scope {
    int uid = 0;
    std::string name, step, unit, init;
};
struct InputId {
    int id = 0, n = 0;
    std::string setter;
};
struct GoalId {
    int id = 0, n = 0;
};
struct Goal {
    int n = 0;
    std::string record, field;
};
// An enumerator of an enum-typed harness variable kiv_haux<n>.
struct Enumerator {
    int n = 0;
    std::string name;
    std::int64_t value = 0;
};
struct Tables {
    std::vector<Record> records;
    std::vector<Scope> scopes;
    std::vector<Variable> variables;
    std::vector<InputId> input_ids;
    std::vector<GoalId> goal_ids;
    std::vector<Goal> goals;
    std::vector<Enumerator> enumerators;  // in declaration order
};

// A sites file of the unit: a name for messages, and its text.
struct SitesFile {
    std::string path, text;
};

// Tables that do not agree with each other (exit status 1 of the generator)
// or a sites file that does not fit them (exit status 2); the message is
// complete.
struct Error : std::runtime_error {
    Error(int status_, const std::string& what) : std::runtime_error(what), status(status_) {}
    int status;
};

// The catalog's text; the library is named when not empty. Throws Error.
std::string write(const Tables& tables, const std::vector<SitesFile>& sites, const std::string& library = "");

// A catalog's text with the library build it describes named in it
// (replacing any named before). Throws Error when the text is no catalog.
std::string stamp(const std::string& catalog, const std::string& library);

}  // namespace kiv::catalog
