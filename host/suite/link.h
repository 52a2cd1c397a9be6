// The traceability cells of a suite: `req`, `verifies` and `technique` on a
// case's first row, checked as they are read.
#pragma once

#include "model/trace.h"

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// Parses a `req` cell: requirement IDs separated by commas ("SWR-1, SWR-2@3"),
// each optionally with @REVISION, a whole number. Returns the message of the
// first problem (a stray comma, a bad revision, a blank inside an ID), with
// `offset` set to its character in the cell; nullopt when the cell is sound.
std::optional<std::string> parse_requirement_refs(std::string_view cell, std::vector<RequirementRef>& out,
                                                  std::size_t& offset);

// "full" or "partial", regardless of case.
std::optional<Verifies> verifies_named(std::string_view text);

// The technique as listed by case_techniques() (regardless of case, and with
// '-' or '_' for a blank), or nullopt.
std::optional<std::string> technique_named(std::string_view text);

// "requirement analysis, equivalence class, ..." for messages.
std::string technique_list();

}  // namespace kiv
