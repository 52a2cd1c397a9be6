// Where each probe call of the unit sources stands, read from the sources when
// the catalog is generated: a scanner over the IXA_ probe calls, which are
// regular enough in our own units not to need a C++ parser.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv::gen {

struct ProbeCall {
    std::string macro;         // IXA_EQU_SS
    std::string kind;          // the record kind the macro writes: STM DC CC RELOP ...
    std::string record;        // from the `&RECORD` argument
    std::string file;          // as given to scan_probe_calls
    int line = 0, column = 0;  // of the macro name, from 1
    // RELOP: the integer literals among its operands; SC: its case label
    // (none under `default`). Unset for other kinds.
    std::optional<std::vector<int64_t>> constants;
    std::string decision;                 // CC: the DC record it is nested in
    std::vector<std::string> conditions;  // DC: nested CC records, in evaluation order
    std::string expression;               // DC: over c0..cN-1, "c" without conditions
};

// Scans `text` (a unit source) for probe calls, in source order; `file` names
// it in positions and errors. Throws std::runtime_error "file:line:column: why"
// when a call does not have the forms the catalog relies on.
std::vector<ProbeCall> scan_probe_calls(const std::string& text, const std::string& file);

}  // namespace kiv::gen
