// kivinst's instrumenting pass: from a parsed C translation unit to the
// instrumented source and its probe record table.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "prove/prove.h"

namespace kivinst {

struct Record {
    std::string kind;      // a kind of instrumentation/probe_kinds.def: STM, DC, CC, RELOP, ...
    std::string name;      // TU<n>ixa_<kind>_cond<k>, TU<n>_RELOP_<k>, TU<n>_CAST_<k>
    std::string function;  // the function whose body holds the probe call
    std::string text;      // what the call site observes, for people only
    // Where the construct is written: the plain file (a header for a static
    // inline function), relative to Options::root, line and column from 1.
    std::string file;
    unsigned line = 0, column = 0;
    std::string decision;                 // CC: its decision's record
    std::vector<std::string> conditions;  // DC: its conditions' records, in evaluation order
    std::string expression;               // DC: over c0..cN-1 with && || ! ( ), "c" without conditions
    // RELOP: the integer literals among its operands; SC: its case label
    // (none under default). Unset for other kinds.
    std::optional<std::vector<int64_t>> constants;
    // The flags no value of its operands can raise (ranges.h), with the reason.
    std::map<std::string, std::string> unreachable;
    std::set<std::string> by_behaviour;  // of those, the ones the behaviour prover found (prove/)
    // STM: the lines of the file its run of statements covers (first, last),
    // in source order, merged: the lines a report marks with its count.
    std::vector<std::pair<unsigned, unsigned>> lines;
};

struct Options {
    int unit = 0;
    std::string source;          // the C file to instrument
    std::string records_include; // how the instrumented source names its record table
    std::string root = ".";      // positions in the sites file are relative to it
    std::string output;          // where the instrumented source goes (empty: standard output)
    std::vector<std::string> compiler_args;
    // Flags the output needs on top of the unit's own, searched ahead of
    // them: -iquote for the source's folder when the output is elsewhere.
    std::vector<std::string> output_args;
    // The behaviour prover (prove/): with scope functions, it runs on the
    // unit's steps and adds the flags no step raises.
    prove::Options prove;
};

// What the behaviour prover concluded for the unit.
struct ProofSummary {
    bool complete = false;  // its findings hold; else why_not says why nothing was found
    std::string why_not, invariant;
    unsigned rounds = 0;
    // By record index, each flag not proven: no step of the first N reaches it.
    std::map<std::size_t, std::map<std::string, unsigned>> not_within;
};

// A quoted include of the source that was found in the source's own folder,
// where a compile of the output in another folder does not look.
struct BesideInclude {
    std::string name;    // as written between the quotes
    std::string header;  // the file it found
    unsigned line = 0, column = 0;  // of the name in the plain source
};

struct Output {
    std::string source;           // instrumented source, C, compiled as C against the probe runtime
    std::vector<Record> records;  // in source order
    std::vector<BesideInclude> beside;
    std::vector<std::string> opened;  // every file the preprocessor read, absolute, sorted
    ProofSummary proof;
    std::string refusal;              // why a unit that parses is not instrumented, if it is not
};

// Parses and instruments options.source. Compiler diagnostics and kivinst's
// own warnings (constructs left as they are) go to stderr with file:line:col.
// Returns false when the file does not parse, or is refused (out.refusal
// says why); out is otherwise untouched.
bool instrument(const Options& options, Output& out);

// Whether the instrumented source compiles, as C with the unit's flags, where
// it will be written, beside its record table; the compiler's diagnostics go
// to stderr. Includes it could not find are added to missing as
// "file:line:col: name", at the plain source's positions.
bool compiles(const Options& options, const std::string& source, const std::string& records,
              std::vector<std::string>& missing);

// A Make-format depfile: target depends on each of files.
std::string depfile(const std::string& target, const std::vector<std::string>& files);

// The record table as a .def file of IXA_RECORD rows.
std::string records_def(const Options& options, const std::vector<Record>& records);

// Where each record's construct stands in the plain sources, as JSON: what
// the catalog and the reports show instead of the instrumented text.
std::string sites_json(const Options& options, const std::vector<Record>& records);

}  // namespace kivinst
