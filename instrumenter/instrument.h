// kivinst's instrumenting pass: from a parsed C translation unit to the
// instrumented source and its probe record table.
#pragma once

#include <string>
#include <vector>

namespace kivinst {

struct Record {
    std::string kind;      // STM FC SC DCF DC CC RELOP CAST DBZ
    std::string name;      // TU<n>ixa_<kind>_cond<k>, TU<n>_RELOP_<k>, TU<n>_CAST_<k>
    std::string function;  // the function whose body holds the probe call
    std::string text;      // what the call site observes, for people only
};

struct Options {
    int unit = 0;
    std::string source;          // the C file to instrument
    std::string records_include; // how the instrumented source names its record table
    std::vector<std::string> compiler_args;
};

struct Output {
    std::string source;           // instrumented source (compiled as C++ against the probe runtime)
    std::vector<Record> records;  // in source order
};

// Parses and instruments options.source. Compiler diagnostics and kivinst's
// own warnings (constructs left as they are) go to stderr with file:line:col.
// Returns false when the file does not parse; out is then untouched.
bool instrument(const Options& options, Output& out);

// The record table as a .def file of IXA_RECORD rows.
std::string records_def(const Options& options, const std::vector<Record>& records);

}  // namespace kivinst
