// The one result model of kivrun: what a run (or a merge of runs) found,
// self-contained, with no reference to a loaded library or plan. Every report
// format is written from it, and its JSON form reads back into it, so a saved
// run renders exactly as the live one and formats cannot disagree.
#pragma once

#include "model/trace.h"

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kiv {

// Final states of a case; anything but passed fails the run.
enum class Verdict { passed, failed, crashed, timed_out, not_run };

const char* verdict_name(Verdict v);  // "passed", "failed", "crashed", "timed out", "not run"
std::optional<Verdict> verdict_named(const std::string& name);

struct Mismatch {
    int32_t step = 0;  // from 1
    int32_t line = 0;  // suite line of the step
    std::string output;
    std::string expected;  // as written in the suite: "35", "30..35", "0|1"
    int64_t actual = 0;
    // A floating output's value as text (the shortest that reads back the
    // same); empty for an integer output, whose value is `actual`.
    std::string actual_text{};
    std::string actual_name{};  // the enumerator an enum output's value has, if any

    std::string actual_as_text() const {
        const std::string value = actual_text.empty() ? std::to_string(actual) : actual_text;
        return actual_name.empty() ? value : actual_name + " (" + value + ")";
    }
};

struct CaseResult {
    std::string suite;  // the suite file as given
    std::string name;
    int32_t line = 0;  // suite line of the case's first step
    std::vector<int32_t> step_lines;
    uint32_t checks = 0;  // expectations evaluated
    Verdict verdict = Verdict::not_run;
    uint32_t mismatch_count = 0;
    std::vector<Mismatch> mismatches;  // every failed check known; may be fewer than mismatch_count
    int32_t fault_step = 0;            // crashed or timed out: the step, from 1
    std::string signal;                // crashed: "SIGSEGV"; empty when the worker died otherwise
    bool goals_kept = false;           // goals reached before the fault are kept
    double seconds = 0;                // wall time of the case; 0 when unknown
    int32_t shard = -1;                // the shard that ran it, in a merged result
    // Goals (indices into Result::goals) this case reaches and no other case
    // of the run does; known only when the run recorded each case's goals.
    std::vector<int32_t> unique_goals;

    std::string id() const { return suite + ":" + name; }  // unique within a result
};

struct Justified {
    std::string reason, file;
    int32_t line = 0;
    std::string method, proof, tool;  // of a proof a tool wrote; empty method: by hand
    bool proven() const { return !method.empty(); }
};

// A goal no proof settled: why, how many steps from the load state are known
// not to reach it (0: none), and where that was read.
struct Unsettled {
    uint32_t not_within = 0;
    std::string why, file;
    int32_t line = 0;
};

struct GoalResult {
    int32_t id = 0;    // variable ID of the goal flag
    int32_t goal = 0;  // n of KIV_G<n>; 0 without a catalog
    std::string criterion, kind, record, field, function, meaning;
    // Where the probe call of the goal's record stands; empty file: unknown.
    std::string file;
    int32_t line = 0, column = 0;
    std::string decision;  // condition goals: the decision record it belongs to
    // Statement goals: the lines (first, last) its block's run covers, where
    // the catalog gives them; a report counts each of them as the goal's.
    std::vector<std::pair<int32_t, int32_t>> lines;
    // The first case (index into Result::cases) and step (from 1) that reached it.
    int64_t first_case = -1;
    int32_t first_step = 0;
    // Statement goals: how often the block ran, summed over the cases that
    // passed or failed; 0 where unknown (a crashed case's runs are not counted).
    uint64_t count = 0;
    std::optional<Justified> justification;
    std::optional<Unsettled> unsettled;  // shown only while the goal is neither reached nor justified

    bool reached() const { return first_case >= 0; }
    std::string name() const;  // "KIV_G<n>", or "ID <id>" without a catalog
};

struct Threshold {
    std::string criterion;  // a criterion name, or "total"
    double percent = 0;
};

// A file a run read, known by its content.
struct InputFile {
    std::string role;  // "suite", "justification", "requirements", "acceptance", "library", "catalog"
    std::string path;  // as given
    std::string sha256;  // "sha256:<hex>"; empty when it could not be read again
};

struct RunDescription {
    std::string library;
    std::string library_id;  // build-id, or sha256 of the file
    std::string catalog;     // path; empty without one
    std::string catalog_id;  // sha256 of the catalog file
    std::vector<std::string> suites;
    std::vector<std::string> justification_files;
    std::string isolation = "snapshot";
    int workers = 1;
    double step_timeout = 1;
    std::string started;  // ISO 8601 UTC
    double seconds = 0;   // whole run, start to exit
    double parse_seconds = 0, run_seconds = 0, report_seconds = 0;
    int32_t shard_index = -1, shard_count = 0;  // --shard K/N; -1 when unsharded
    std::vector<InputFile> inputs;              // what ran, by content; empty in older results
    std::string tool_version;                   // kivrun's
    std::vector<std::string> command_line;      // the arguments as given
};

// ---- MC/DC (--mcdc): beside the goals, never among them ----

struct McdcVector {
    std::string values;  // per condition in evaluation order: 'T', 'F', '-' not evaluated
    bool outcome = false;
};

struct McdcRef {              // where a vector was first seen
    int64_t case_index = -1;  // into Result::cases; -1: none
    int32_t step = 0;         // from 1
    McdcVector vector;
};

struct McdcCondition {
    std::string record;  // its condition record; the decision's own for a decision without conditions
    bool shown = false;
    McdcRef first, second;  // shown: the pair, in the order it was completed
    // Not shown: the vectors that would complete a pair, one beside `partner`
    // (a vector seen) or two when no vector seen can be part of one.
    std::vector<McdcVector> missing;
    McdcRef partner;
    std::optional<Justified> justification;
};

struct McdcDecision {
    std::string record, function, file;
    int32_t line = 0, column = 0;
    std::string expression;  // over c0..cN-1, cN = conditions[N]
    std::vector<McdcCondition> conditions;
    uint64_t vectors = 0;   // steps that evaluated it once and gave a vector
    uint64_t repeated = 0;  // steps that evaluated it more than once: no vector
};

struct McdcSection {
    std::vector<McdcDecision> decisions;  // in the catalog's record order
    uint64_t steps = 0;                   // steps replayed
    uint64_t steps_not_replayed = 0;      // after a fault, in a case that did not run, or lost in the replay
};

struct Result {
    RunDescription run;
    std::vector<CaseResult> cases;
    std::vector<GoalResult> goals;   // in the library's goal order
    std::vector<Threshold> thresholds;  // requested with --fail-under
    std::optional<McdcSection> mcdc;    // with --mcdc only
    std::optional<TraceSection> trace;  // when a case names a requirement or a requirement set was given
};

// ---- Summary: everything a report shows that is derived, never stored ----

struct CoverageRow {
    std::string criterion;
    std::size_t reached = 0;
    std::size_t justified = 0;  // not reached, and justified as unreachable
    std::size_t proven = 0;     // of those, proven by a tool rather than justified by hand
    std::size_t total = 0;
    std::size_t unknown() const { return total - reached - justified; }
    double percent() const { return share(reached); }
    double covered_percent() const { return share(reached + justified); }
    // Exact: covered * 100 >= required * total, in integers scaled by 1000.
    bool meets(double required_percent) const;

private:
    double share(std::size_t n) const {
        return total ? 100.0 * static_cast<double>(n) / static_cast<double>(total) : 100.0;
    }
};

struct ThresholdResult {
    Threshold threshold;
    CoverageRow row;  // what it was compared with
    bool met = false;
};

struct Summary {
    std::vector<CoverageRow> criteria;  // in report order, only those with goals
    CoverageRow total;
    std::size_t passed = 0, failed = 0, crashed = 0, timed_out = 0, not_run = 0;
    std::vector<ThresholdResult> thresholds;
    // Goals reached though justified: errors, as a wrong proof or reason hides a gap.
    std::vector<std::size_t> contradictions;
    std::optional<CoverageRow> mcdc;          // conditions shown, "mcdc"; with --mcdc only
    // Conditions shown though justified as unshowable: (decision, condition); warnings.
    std::vector<std::pair<std::size_t, std::size_t>> mcdc_contradictions;
    bool all_passed() const;  // every case passed, every threshold met, no justified goal reached
    std::size_t cases() const { return passed + failed + crashed + timed_out + not_run; }
};

// Throws Error when a threshold names a criterion the result has no goals of,
// or mcdc in a result without MC/DC.
Summary summarize(const Result& result);

// The one check of a threshold's criterion, before a run or on a result:
// throws Error when no goal is of it (`without_catalog`: the goals' criteria
// were not known). "total" and "mcdc" are not criteria of goals; not checked.
void check_threshold_criterion(const Threshold& t, bool has_goals, bool without_catalog);

// Parses "CRITERION=PERCENT" ("decision=90", "DC=90", "total=85.5").
Threshold parse_threshold(const std::string& text);

// Its JSON form: model/result_json.h.

}  // namespace kiv
