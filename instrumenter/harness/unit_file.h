// kivinst harness: the unit file (what the user overrides) and the ID map
// file (the memory of every ID given out). Formats in instrumenter/harness/README.md.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model.h"

namespace kivinst::harness {

// A variable the unit file adds to a scope: an lvalue of the unit or its
// environment, e.g. "RteStub_Leds[0]" or "state.count".
struct ExtraVariable {
    std::string name, variable, type, setter;
    int id = 0;
    Loc loc;
};

// Overrides of one inferred variable, keyed by its inferred name.
struct VariableOverride {
    std::string name, type, setter;
    int id = 0;
    Loc loc;
};

struct ScopeOverride {
    std::string entry;
    Loc loc;
    std::string name, step, init;
    int uid = 0;
    std::optional<bool> infer;
    std::vector<ExtraVariable> inputs, outputs;
    std::map<std::string, VariableOverride> variables;
};

// How a stub answers within one step (see README "Stubs").
struct StubSetting {
    int calls = -1;       // per-call results; -1: by the calls the sources write
    int history = -1;     // calls whose arguments are kept; -1: the default
    std::string key;      // a parameter whose value chooses the result
    int keys = 0;         // results F(0) .. F(keys-1)
    Loc loc;
};

// A pointer parameter "F.p" that is a buffer: its capacity in elements and
// the parameter that carries its length (empty: none, or as inferred).
struct BufferSetting {
    int capacity = 0;
    std::string length;
    Loc loc;
};

struct UnitFile {
    std::string path;  // empty: none given
    std::string dir;   // relative paths inside are relative to it
    std::string text;  // for locating names
    std::string name;
    std::string map;
    std::map<std::string, int> units;  // source file name -> translation unit number
    std::vector<std::string> environment;  // paths as resolved
    std::string environment_init;
    // "init_once_per": "scope" keeps the older rule (a scope's first step runs
    // its init and the environment's); by default every init runs once per case.
    bool init_per_scope = false;
    std::vector<std::string> entries;
    std::vector<std::string> skip_functions;
    std::vector<std::string> includes, defines;
    std::vector<ScopeOverride> scopes;
    std::map<std::string, StubSetting> stubs;      // by function, callbacks as "entry.param"
    std::map<std::string, BufferSetting> buffers;  // by "function.param"

    // Where a string first stands in the file, for messages about names it holds.
    Loc locate(const std::string& value) const;
};

// Reads and checks the shape of a unit file; throws BadInput located.
UnitFile read_unit_file(const std::string& path);

// The ID map: scope, input and goal keys to IDs. Every ID is unique.
struct IdMap {
    std::map<std::string, int> scopes, inputs, goals;
    int next_free(const std::string& where) const;  // throws BadInput, at where, when none is left
    // Gives key in section its ID: the pinned one (0: none), else the one
    // remembered, else the next free. Throws BadInput on a collision.
    int assign(std::map<std::string, int>& section, const std::string& key, int pinned, const std::string& where);
    std::map<int, std::string> owner;  // ID -> "section key", for collisions
};

// Reads a map file (a missing file is an empty map); throws BadInput when it
// is malformed or two keys share an ID.
IdMap read_map(const std::string& path);
std::string map_json(const IdMap& map);

// Nearest names for a misspelt one, best first.
std::vector<std::string> nearest(const std::string& name, const std::vector<std::string>& known, std::size_t at_most = 3);

}  // namespace kivinst::harness
