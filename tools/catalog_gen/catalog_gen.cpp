// catalog_gen: the catalog of a library whose unit tables are kept by hand,
// written by the one catalog writer from the tables as the compiler reads
// them. Built against the unit's root (-I ROOT). kivinst harness writes the
// catalog of the units it generates itself.
#include "catalog.h"
#include "identity/identity.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

using namespace kiv::catalog;

// The tables are expanded as constant data, after one empty row so that an
// empty table is still an array, and become rows at start-up in a loop: a
// vector initialised from the rows directly is one function of every row,
// which the optimiser takes minutes over for a unit of many thousand goals.
template <class Out, class Row, std::size_t N, class Make>
std::vector<Out> from_rows(const Row (&rows)[N], Make make) {
    std::vector<Out> out;
    out.reserve(N - 1);
    for (std::size_t i = 1; i < N; ++i) out.push_back(make(rows[i]));
    return out;
}

struct Texts4 {
    const char *a, *b, *c, *d;
};
constexpr Texts4 kRecordRows[] = {{"", "", "", ""},
#define IXA_RECORD(kind, record, function, text) {#kind, #record, #function, text},
#include "unit/records.def"
};

struct ScopeRow {
    int uid;
    const char *name, *step, *unit, *init;
};
constexpr ScopeRow kScopeRows[] = {{0, "", "", "", ""},
#define KIV_SCOPE(uid, name, step, unit, init) {uid, name, #step, #unit, #init},
#include "unit/scopes.def"
};

struct VariableRow {
    int n, scope;
    const char *direction, *type, *unit_variable, *name;
};
constexpr VariableRow kVariableRows[] = {{0, 0, "", "", "", ""},
#define KIV_HAUX(n, scope, direction, type, unit_variable, name) {n, scope, #direction, #type, #unit_variable, name},
#include "unit/harness_variables.def"
};

struct InputIdRow {
    int id, n;
    const char* setter;
};
constexpr InputIdRow kInputIdRows[] = {{0, 0, ""},
#define KIV_INPUT_ID(id, n, setter) {id, n, #setter},
#include "unit/harness_ids.def"
};
constexpr GoalId kGoalIdRows[] = {{0, 0},
#define KIV_GOAL_ID(id, n) {id, n},
#include "unit/harness_ids.def"
};

struct GoalRow {
    int n;
    const char *record, *field;
};
constexpr GoalRow kGoalRows[] = {{0, "", ""},
#define KIV_GOAL(n, record, field, rule) {n, #record, #field},
#include "unit/goals.def"
};

// The enumerators of enum-typed harness variables, in a table older unit
// sets (and hand-kept ones without enums) do not have.
struct EnumeratorRow {
    int n;
    const char* name;
    std::int64_t value;
};
constexpr EnumeratorRow kEnumeratorRows[] = {{0, "", 0},
#if __has_include("unit/enums.def")
#define KIV_ENUMERATOR(n, name, value) {n, name, value},
#include "unit/enums.def"
#endif
};

Tables tables() {
    Tables t;
    t.records = from_rows<Record>(kRecordRows, [](const Texts4& r) { return Record{r.a, r.b, r.c, r.d}; });
    t.scopes = from_rows<Scope>(kScopeRows, [](const ScopeRow& r) { return Scope{r.uid, r.name, r.step, r.unit, r.init}; });
    t.variables = from_rows<Variable>(kVariableRows, [](const VariableRow& r) {
        const std::string direction = r.direction;
        return Variable{r.n, r.scope, direction != "OUT", direction == "INOUT", r.type, r.unit_variable, r.name};
    });
    t.input_ids = from_rows<InputId>(kInputIdRows, [](const InputIdRow& r) { return InputId{r.id, r.n, r.setter}; });
    t.goal_ids = from_rows<GoalId>(kGoalIdRows, [](const GoalId& r) { return r; });
    t.goals = from_rows<Goal>(kGoalRows, [](const GoalRow& r) { return Goal{r.n, r.record, r.field}; });
    t.enumerators = from_rows<Enumerator>(kEnumeratorRows, [](const EnumeratorRow& r) { return Enumerator{r.n, r.name, r.value}; });
    return t;
}

[[noreturn]] void fail(int status, const std::string& why) {
    std::cerr << why << "\n";
    std::exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    // The library built from the same tables, when given, is named in the
    // catalog so that kivrun can trust it to list that build's IDs.
    std::string library;
    if (argc > 2 && std::string(argv[1]) == "--library") {
        library = kiv::library_identity(argv[2]);
        if (library.empty()) fail(1, std::string("catalog_gen: cannot read ") + argv[2]);
        argc -= 2, argv += 2;
    }
    if (argc < 3) {
        std::cerr << "usage: catalog_gen [--library LIBRARY.so] OUTPUT.json SITES.json...\n";
        return 2;
    }
    std::vector<SitesFile> sites;
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i]);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) fail(2, std::string("catalog_gen: ") + argv[i] + ": cannot read the sites file");
        sites.push_back({argv[i], text.str()});
    }
    std::string text;
    try {
        text = write(tables(), sites, library);
    } catch (const Error& e) {
        fail(e.status, e.what());
    }
    const std::string tmp = std::string(argv[1]) + ".tmp";
    std::ofstream out(tmp);
    out << text;
    out.close();
    if (!out || std::rename(tmp.c_str(), argv[1]) != 0) fail(1, std::string("catalog_gen: cannot write ") + argv[1]);
    return 0;
}
