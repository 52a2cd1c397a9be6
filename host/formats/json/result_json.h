// The result's JSON, the one reader and writer of it: write_json and
// read_json for every command, and beneath them its cases, the bulk of a large
// result, read and written straight between the file and CaseResult at the
// scale of a sharded run.
#pragma once

#include "model/result.h"

#include <nlohmann/json.hpp>

#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kiv {

// `summary`: summarize(result), computed once by the caller.
void write_json(const Result& result, const Summary& summary, std::ostream& out);
// Throws Error naming `what` (the file) when it is not a kivrun result.
Result read_json(std::istream& in, const std::string& what);
Result read_json_file(const std::string& path);

class ResultDocument {
public:
    // Throws Error "<what>: not a kivrun result (not JSON)" when the text is not JSON.
    ResultDocument(std::istream& in, const std::string& what);
    ~ResultDocument();

    // The document without its "cases" and "goals" lists.
    const nlohmann::json& rest() const { return rest_; }
    // The goals, in the file's order; throws Error as cases() does, and when
    // a goal's first reach names no case of the `cases` the result holds.
    std::vector<GoalResult> goals(std::size_t cases) const;
    // The cases; throws Error as the result reader does for a missing field
    // or one of the wrong type. Unique goals are left as the file's variable
    // IDs, for the reader to turn into indices once it has the goals.
    std::vector<CaseResult> cases() const;

private:
    struct Parsed;
    std::unique_ptr<Parsed> parsed_;
    nlohmann::json rest_;
    std::string what_;
};

// The cases as a JSON array, one case a line; `indent` spaces before each.
// A case's unique goals (indices into `goals`) are written as variable IDs.
void write_cases_json(const std::vector<CaseResult>& cases, const std::vector<GoalResult>& goals, std::ostream& out,
                      int indent);

}  // namespace kiv
