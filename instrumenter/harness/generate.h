// kivinst harness: from C sources (and an optional unit file) to the text of
// every file of a harness's unit set, in memory; nothing is written here.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kivinst::harness {

struct Options {
    std::vector<std::string> sources;   // the unit's C files
    std::vector<std::string> includes;  // -I
    std::vector<std::string> defines;   // -D
    std::vector<std::string> entries;   // --entry
    std::string unit_file;              // --unit, may be empty
    std::string out_dir;                // -o
    std::string name;                   // --name: the library is lib<name>.so
    std::string root = ".";             // positions in the sites files are relative to it
    std::string map;                    // --map: the ID map file (default: beside the unit file, else in DIR)
    double prove_seconds = 60;          // --prove-seconds: the behaviour prover's processor time per source
};

struct Generated {
    std::string name;                          // library name
    std::map<std::string, std::string> files;  // path below the output folder -> text
    std::string map_path, map_text;            // the ID map and its new text
    std::vector<std::string> environment;      // environment sources to compile with the unit
    std::vector<std::string> compiler_args;    // -I/-D the unit's sources need
    std::vector<std::string> warnings;         // what is not observed, located
    std::vector<std::string> inputs;           // the scope inputs with their IDs, for the summary
    std::set<std::string> opened;              // every file read to make it: what a rebuild watches
};

// Throws BadInput (model.h) on anything the user must fix.
Generated generate(const Options& options);

}  // namespace kivinst::harness
