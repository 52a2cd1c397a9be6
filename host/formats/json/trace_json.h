// The result's "trace" section: what each case verifies, the requirement set
// with each requirement's status, the acceptances; written and read here.
#pragma once

#include "model/result.h"

#include <nlohmann/json.hpp>

#include <string>

namespace kiv {

nlohmann::json trace_json(const Result& result);
// The same as text, its lists of requirements and links one element a line
// (a large result holds hundreds of thousands); `indent` spaces before the
// object's keys, as the enclosing document is indented.
std::string trace_json_text(const Result& result, int indent);
// Reads the section of `result`, whose cases are already read; throws Error
// naming `what` when it is malformed or names a case the result lacks.
TraceSection read_trace_json(const nlohmann::json& j, const Result& result, const std::string& what);

// A goal set as hex digits, four goals a digit, lowest first; and back.
std::string goal_bits_text(const std::vector<uint64_t>& bits, std::size_t goals);
bool goal_bits_from_text(const std::string& text, std::size_t goals, std::vector<uint64_t>& bits);

}  // namespace kiv
