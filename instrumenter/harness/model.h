// kivinst harness: what the generator learns of a unit (the facts the parsed
// sources give) and what it makes of them (scopes and harness variables).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kivinst::harness {

// Bad input of any kind: the message is complete and starts with its
// location where there is one; the command exits 2 and writes nothing.
struct BadInput : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Loc {
    std::string file;
    unsigned line = 0, column = 0;
    std::string str() const;  // file:line:col, or file alone
};

// A scalar reached inside a value: its path below the value (".count",
// "[2]", "" for the value itself) and its type as a fixed-width C token.
struct Leaf {
    std::string path;
    std::string type;
    std::vector<std::pair<std::string, int64_t>> enumerators{};  // an enum's names and values, in declaration order
};

enum class ParamKind { Scalar, PointerToScalar, PointerToStruct, Struct, Other };

struct Param {
    std::string name;        // as declared; generated "arg<k>" when unnamed
    std::string decl_type;   // the type as written, for storage declarations
    std::string pointee;     // pointers: the pointee type without qualifiers, as written
    ParamKind kind = ParamKind::Other;
    bool pointee_const = false;
    std::vector<Leaf> leaves;  // scalar: one leaf ""; pointers and structs: the scalars inside
    std::string why;           // Other: what the type is
    Loc loc;
};

struct Function {
    std::string name;
    bool defined = false;    // a body in one of the unit's sources
    bool environment = false;  // defined by an environment source
    bool external = true;
    bool variadic = false;
    bool system = false;     // declared in a system header: the C library serves it
    std::string tu;          // the unit source that defines it, or first declares and calls it
    Loc loc;
    std::string declaration;  // printed prototype, for the stub
    std::string return_type;  // as written; "void" for none
    std::vector<Leaf> return_leaves;
    std::string return_why;   // a non-void return that feeds nothing: why
    std::vector<Param> params;
    std::set<std::string> calls;    // functions it calls
    std::set<std::string> globals;  // file-scope variables it names
    std::vector<std::pair<std::string, Loc>> static_locals;  // state the glue cannot reach
};

struct Global {
    std::string name;
    std::string tu;            // source that defines it, or first declares it
    bool defined = false;      // defined (not only declared) in a unit source
    bool environment = false;  // defined by an environment source
    bool external = true;
    bool is_const = false;
    bool system = false;       // declared in a system header (errno, stdout): not the unit's
    std::string decl;          // printed declaration with the name, for the glue
    std::string element_type;  // scalar arrays: the element's token; scalars: the token
    long array_size = -1;      // -1: not an array
    std::vector<Leaf> leaves;
    std::string why;           // no leaves: why it cannot be observed
    Loc loc;
};

// Everything the sources say, keyed by name across translation units.
struct Facts {
    std::map<std::string, Function> functions;
    std::map<std::string, Global> globals;
    std::vector<std::string> sources;       // unit sources, in command-line order
    std::vector<std::string> environment;   // environment sources
    std::vector<std::string> opened;        // every file their parse read
};

// One harness variable: what the frame copies between kiv_haux<n> and the unit.
struct Variable {
    std::string name;     // within its scope, as suites write it
    bool in = true;
    bool follows = false; // an input that takes the unit variable's value after every step
    std::string type;     // fixed-width C token
    std::string setter;   // inputs: PLAIN or BOOL
    int id = 0;           // inputs: the variable ID
    int n = 0;            // kiv_haux<n>
    // How the frame reaches the unit's side: a global it can name (declared in
    // unit.h), or a pointer the glue of `glue_tu` defines to `glue_expr`.
    std::string direct;        // e.g. "speed_limit", "leds[2]"; empty: through the glue
    std::string direct_decl;   // its declaration for unit.h
    std::string glue_tu;
    std::string glue_expr;     // C lvalue inside that translation unit
    std::vector<std::pair<std::string, int64_t>> enumerators{};  // of its enum type; empty for other types
};

struct Scope {
    std::string entry;    // the unit function it steps
    std::string name;     // as suites write it
    std::string step;     // frame function the runtime defines
    std::string unit;     // void(void) the frame calls: the entry or a wrapper
    std::string init;     // void(void) on the scope's first step
    int uid = 0;
    bool infer = true;    // infer variables from the source (else only the unit file's)
    std::vector<Variable> vars;
};

}  // namespace kivinst::harness
