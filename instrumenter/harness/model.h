// kivinst harness: what the generator learns of a unit (the facts the parsed
// sources give) and what it makes of them (scopes and harness variables).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kivinst::harness {

// Bad input of any kind: the message is complete and starts with its
// location where there is one; the command exits 2 and writes nothing.
struct BadInput : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Limits of what a harness spreads into variables, each a variable with an ID.
constexpr int kMaxScriptedCalls = 64;  // per-call results and arguments of a stub in one step
constexpr int kMaxKeys = 64;           // results chosen by an argument 0 .. keys-1
constexpr int kMaxCapacity = 1024;     // elements of a buffer
constexpr int kDefaultCapacity = 16;   // a buffer whose capacity nothing states
constexpr int kDefaultHistory = 8;     // calls whose arguments a stub keeps

struct Loc {
    std::string file;
    unsigned line = 0, column = 0;
    std::string str() const;  // file:line:col, or file alone
};

// A scalar reached inside a value: its path below the value (".count",
// "[2]", "" for the value itself) and its type as a fixed-width C token.
// A bit-field has no address, so the glue reaches it through functions; a
// union is its bytes, whose C access differs from the name.
struct Leaf {
    Leaf() = default;
    Leaf(std::string p, std::string t, std::vector<std::pair<std::string, int64_t>> e = {})
        : path(std::move(p)), type(std::move(t)), enumerators(std::move(e)) {}
    std::string path;
    std::string type;
    std::vector<std::pair<std::string, int64_t>> enumerators{};  // an enum's names and values, in declaration order
    bool bitfield = false;
    std::string union_path;  // union bytes: the union's path; path ends in "[i]"
    long union_byte = -1;
};

// A part of a value that no harness variable carries, and why (a pointer
// member, an array beyond what is spread); the rest of the value still is.
struct Skipped {
    std::string path, why;
};

// Scalar: one leaf. Pointers to a scalar or struct: an object the harness
// owns. Buffer: a pointer with a length parameter or a stated capacity.
// Callback: a function pointer the harness points at a stub of its own.
enum class ParamKind { Scalar, PointerToScalar, PointerToStruct, Struct, Buffer, Callback, Other };

struct Function;

struct Param {
    std::string name;        // as declared; generated "arg<k>" when unnamed
    std::string decl_type;   // the type as written, for storage declarations
    std::string pointee;     // pointers: the pointee type without qualifiers, as written
    ParamKind kind = ParamKind::Other;
    bool pointee_const = false;
    std::vector<Leaf> leaves;  // scalar: one leaf ""; pointers and structs: the scalars inside
    std::string why;           // Other: what the type is
    std::vector<Skipped> skipped;  // parts of a struct no variable carries
    int length_of = -1;        // the index of the buffer parameter this one is the length of
    int length = -1;           // Buffer: the index of its length parameter, -1 none
    std::string element;       // Buffer: the element's token (uint8_t for void)
    std::shared_ptr<Function> callback;  // Callback: its type as a function to stub
    // PointerToStruct: function-pointer members, each as a function to stub
    std::vector<std::pair<std::string, std::shared_ptr<Function>>> member_callbacks;
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
    int call_sites = 0;       // calls written in the unit's sources
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
    std::vector<Skipped> skipped;
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
    bool bitfield = false;     // glue_expr has no address: reached through get and set functions
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
