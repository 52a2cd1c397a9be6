// One result from many: the shares of a sharded run, or runs of different
// suites against one library build, merged into a result every report reads.
#pragma once

#include "model/result.h"
#include "formats/json/result_json.h"

#include <string>
#include <vector>

namespace kiv {

struct NamedResult {
    std::string path;  // for messages
    Result result;
};

// The merged result. Cases are put in suite order (suites in the order first
// seen, then by line), so the shares of one run merge into that run's order
// and each goal's first reach is the one the whole run would have found; a
// case keeps the shard that ran it. Throws Error, naming the files, when the
// list is empty, when two results are of different library builds, catalogs
// or goal lists, when a case appears twice, or when the shares of an N-way
// split are not each there exactly once.
Result merge_results(std::vector<NamedResult> inputs);

// Reads each file (read_json_file) and merges them; what `kivrun merge` does
// before writing.
Result merge_files(const std::vector<std::string>& paths);

// The inputs' traceability into `out`, whose cases came from input i's case c
// at moved_to[i][c] (compare/trace_merge.cpp). Throws Error when two inputs
// were judged against different requirement sets.
void merge_trace(const std::vector<NamedResult>& in, const std::vector<std::vector<int64_t>>& moved_to, Result& out);

}  // namespace kiv
