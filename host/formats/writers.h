// The report formats, each written from the one result model and its
// summary. A writer only writes; whether the bytes reached the file is the
// caller's to check (see report_files.h).
#pragma once

#include "model/result.h"

#include <functional>
#include <ostream>
#include <string>

namespace kiv {

struct TextOptions {
    int verbosity = 1;   // 0: failures and the verdict; 1: as usual; 2: every case
    bool trace = false;  // the first case and step that reached each goal
    bool reports_failed = false;  // a report file was not written: the run failed
    bool gate_failed = false;     // a requirement gate was not met: the run failed
    // The requirements section, written before the verdict; none when empty.
    std::function<void(std::ostream&)> requirements{};
};

void write_text(const Result& result, const Summary& summary, std::ostream& out, const TextOptions& options);
void write_junit(const Result& result, const Summary& summary, std::ostream& out);

// ---- shared by the writers ----

// "step 4 (suite.csv:6)"
std::string step_where(const CaseResult& c, int32_t step);
// One line on what went wrong in a case; empty when it passed.
std::string case_problem(const Result& result, const CaseResult& c);
// The warning for a goal that is justified as unreachable and was reached.
std::string contradiction_text(const Result& result, std::size_t goal);
// The warning for an MC/DC condition justified as unshowable that was shown.
std::string mcdc_contradiction_text(const Result& result, std::size_t decision, std::size_t condition);
// "TF- -> F": an MC/DC vector, its conditions in evaluation order, then the outcome.
std::string mcdc_vector_text(const McdcVector& v);
// Goals in report order (by goal number, which groups them by unit and criterion).
std::vector<std::size_t> goal_order(const Result& result);
// "ID 1564 KIV_G15"
std::string goal_label(const GoalResult& g);
// A percentage with as many decimals as make a threshold verdict visible:
// never "80.1 < 80.1".
std::string percent_text(double value, double against = -1);
// Text for a terminal: control bytes but the newline shown as \xNN, as the
// suite reader's messages show them, so a name or value cannot drive it.
std::string terminal_text(const std::string& text);

// printf into a string of whatever length it takes: a column never cuts a row.
[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...);

// "1 case", "2 cases"
std::string count(std::size_t n, const char* singular, const char* plural);
// Text safe to put in XML: escaped, control bytes and bytes that are not
// UTF-8 replaced.
std::string xml_text(const std::string& s);

}  // namespace kiv
