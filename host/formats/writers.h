// The report formats, each written from the one result model and its
// summary. A writer only writes; whether the bytes reached the file is the
// caller's to check (see report_files.h).
#pragma once

#include "model/result.h"
#include "wording/wording.h"

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

// Text safe to put in XML: escaped, control bytes and bytes that are not
// UTF-8 replaced.
std::string xml_text(const std::string& s);

}  // namespace kiv
