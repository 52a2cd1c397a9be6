// kivinst harness: the glue of what a unit calls and is handed, written as
// text with the harness variables over it: stubs (of functions the unit calls
// and of callbacks it is given), answering per call, and buffers the harness
// owns with guard bytes after them.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "model.h"

namespace kivinst::harness {

// A variable over glue storage: named by the frame directly when it has
// external linkage (a scalar), else through a pointer the glue of tu defines.
Variable on_glue_scalar(const std::string& var, const std::string& type, const std::string& name, bool in);
Variable on_glue_storage(const std::string& tu, const std::string& expr, const std::string& type,
                         const std::string& name, bool in);
// A leaf of a value whose C lvalue is base: a bit-field through functions, a
// union's byte through a byte pointer.
Variable on_leaf(const std::string& tu, const std::string& base, const Leaf& leaf, const std::string& name, bool in);
std::string leaf_access(const std::string& base, const Leaf& leaf);
// v with the enumerators of leaf's enum type, for suites and reports to name.
Variable with_enums(Variable v, const Leaf& leaf);

// How a stub answers (see README "Stubs").
struct StubShape {
    std::string c_name;  // the function the glue defines
    std::string key;     // part of the glue's identifiers, unique in the unit
    std::string shown;   // the variables' prefix: F for F.calls, F#2.x
    int calls = 0;       // per-call results F#1..F#calls; below 2: one result for every call
    int history = 0;     // calls whose arguments are outputs F#k.x, with F#k.order
    int key_param = -1;  // keyed results: the parameter whose value picks F(v)
    int keys = 0;
    std::map<int, int> capacity;  // buffer parameters: elements observed or filled
    bool fills_objects = true;    // fill structs its pointers point to (a callback's are the unit's own)
};

struct StubPieces {
    std::string text;                  // storage and function, for the glue of its translation unit
    std::vector<Variable> in, out;
    std::vector<std::string> resets;   // per-step counters
    std::vector<std::pair<Loc, std::string>> notes;  // what is not observed, and what to do
};

StubPieces write_stub(const Function& f, const StubShape& shape);

// The counter of stub calls in a step that orders them across stubs; glue.c
// defines it, every stub counts on it.
inline constexpr const char* kCallOrder = "kiv_call_order";

// A buffer the harness owns for an entry's parameter: its storage with guard
// bytes, the check after the call, and its elements as variables.
struct BufferPieces {
    std::string storage;   // definitions for the entry's glue
    std::string argument;  // what the entry is called with
    std::string before, after;  // statements around the call
    std::vector<Variable> in, out;
};

// given: the C expression of the elements the unit is told it has (its
// length argument as passed), empty when it is told none.
BufferPieces write_buffer(const std::string& tu, const std::string& entry, const Param& p, int capacity,
                          const std::string& given);

// value held to [0, capacity], as a length argument is passed.
std::string held_length(const std::string& value, const std::string& type, int capacity);

// An object the harness owns for an entry's pointer to one scalar, with guard
// bytes after it: lvalue names the object.
struct GuardedObject {
    std::string storage, lvalue, before, after;
};
GuardedObject guard_object(const std::string& var, const std::string& type, const std::string& shown);

// glue.c's part: the counter and the report of a write past a buffer's end.
std::string buffer_runtime();

}  // namespace kivinst::harness
