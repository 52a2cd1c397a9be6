// Requirements traced to evidence, as the result keeps them: which
// requirements each case verifies, the requirement set the run was judged
// against, and the acceptances that clear a changed requirement. Statuses are
// derived from these (trace/status.h), never stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

enum class Verifies : uint8_t { full, partial };

struct RequirementRef {
    std::string id;
    int64_t revision = -1;  // the revision the case was written against; -1: not given
    std::string text() const { return revision < 0 ? id : id + "@" + std::to_string(revision); }
};

// What a case verifies; `refs` empty: the case names no requirement.
struct CaseLink {
    std::vector<RequirementRef> refs;
    Verifies verifies = Verifies::full;
    std::string technique;  // one of case_techniques(); empty: not given
    std::string description;
    bool linked() const { return !refs.empty(); }
};

struct Requirement {
    std::string id, title, text;
    int64_t revision = -1;  // -1: the set gives none
    std::string level;      // integrity level; empty: not given
    std::string text_sha256;
    std::string file;       // where it was read, and its line (CSV) or 0 (ReqIF)
    int32_t line = 0;
};

// A reviewer's word that a requirement's present text (and revision) is
// still verified by its cases as linked.
struct Acceptance {
    std::string id, text_sha256;
    int64_t revision = -1;
    std::string source;  // "file:line" of the acceptance row, or "--accept"
};

struct TraceSection {
    std::vector<CaseLink> links;  // per Result::cases
    // Per Result::cases, the goals the case reached as a bit per goal of
    // Result::goals (words of 64); empty when not recorded for the case.
    std::vector<std::vector<uint64_t>> case_goals;
    bool have_requirements = false;  // a requirement set was given
    std::vector<Requirement> requirements;
    std::vector<Acceptance> accepted;
};

// The closed list of ways a case was derived, in report order.
const std::vector<std::string>& case_techniques();
const char* verifies_name(Verifies v);  // "full", "partial"

}  // namespace kiv
