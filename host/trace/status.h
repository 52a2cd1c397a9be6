// Each requirement's status, derived from the result's links, verdicts,
// requirement set and acceptances; and the gates that fail a run on them.
#pragma once

#include "model/result.h"
#include "model/trace.h"

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kiv {

// In the order a requirement is judged: the first that applies is its status.
enum class ReqStatus : uint8_t { untested, failing, suspect, partial, verified, unknown };
constexpr std::size_t kReqStatuses = 6;

const char* req_status_name(ReqStatus s);  // "untested", ..., "partial only", "verified", "unknown ID"
const char* req_status_key(ReqStatus s);   // one word, as gates and files name it: "partial", "unknown"
std::optional<ReqStatus> req_status_keyed(const std::string& key);

struct SuspectReason {
    std::size_t case_index = SIZE_MAX;  // the case linked at an older revision; SIZE_MAX: the text changed
    std::string text;
};

struct RequirementState {
    std::string id;
    int64_t requirement = -1;  // into TraceSection::requirements; -1: not in the set
    ReqStatus status = ReqStatus::untested;
    std::vector<std::size_t> cases{};  // linked cases, in result order
    std::size_t passed_full = 0, passed_partial = 0, not_passed = 0;
    std::vector<SuspectReason> suspect{};  // why it is suspect (possibly also failing); empty: not suspect
    std::vector<std::size_t> goals{};    // goals its cases reached (indices into Result::goals)
};

struct TraceSummary {
    std::vector<RequirementState> requirements;  // the set's order, then IDs not in it as first cited
    std::vector<std::size_t> unlinked;           // cases that name no requirement (setup cases aside)
    std::array<std::size_t, kReqStatuses> counts{};
    bool goals_known = false;                 // the run recorded the goals of its linked cases
    std::vector<std::size_t> goals_unlinked;  // goals no requirement-linked case reached
};

TraceSummary summarize_trace(const Result& result);

// ---- gates ----

// Each status key (and "unlinked", for cases that name no requirement) with
// the most that may be counted.
struct TraceGate {
    std::vector<std::pair<std::string, std::size_t>> limits;
};

// Parses "untested=0,failing=0"; throws Error for an unknown key or a limit
// that is not a whole number.
TraceGate parse_trace_gate(const std::string& text);

// Writes a compiler-style message ("suite.csv:14: error: SWR-12 has no
// passing case") for each item of a status over its limit; false when a
// limit was exceeded.
bool check_trace_gate(const TraceGate& gate, const Result& result, const TraceSummary& summary, std::ostream& err);

}  // namespace kiv
