// Report files: checked before a run, written so that a report either reaches
// its file whole or the run fails.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace kiv {

struct OutputPath {
    std::string option;  // "--json", for messages
    std::string path;
    bool directory = false;  // a report that is a folder of files (HTML)
};

// The file kivrun writes into every folder of files it writes (the HTML
// report): an existing folder is replaced only when it is empty or holds it.
inline constexpr const char* kReportMarker = ".kivrun-report";

// Throws Error when an output is one of the inputs (suite, justification,
// library, catalog: any path naming the same file), when two outputs name the
// same file, when a folder output holds an input (it is replaced whole) or
// anything else than a report kivrun wrote (no kReportMarker), or
// when an output cannot be written (missing folder, no
// permission, a folder where a file is wanted).
// `command` names what the inputs are of, in messages ("run", "merge").
// `shown` are the unit sources the HTML report reads: inputs as well, named
// as such in messages.
void check_outputs(const std::vector<OutputPath>& outputs, const std::vector<std::string>& inputs,
                   const std::string& command = "run", const std::vector<std::string>& shown = {});

// Writes a regular file through a temporary beside it, renamed into place
// only when every byte was written and the file closed cleanly; a device or
// pipe is written in place and checked after close. Throws Error naming the
// file otherwise.
void write_report_file(const std::string& path, const std::function<void(std::ostream&)>& write);

// The report files of one run: each is tried, one that cannot be written is
// remembered and the others are still written; the run then fails once.
class ReportWrites {
public:
    // write_report_file for a requested path; an empty path was not requested.
    void file(const std::string& path, const std::function<void(std::ostream&)>& write);
    // Any other writing (a folder of files) that throws Error when it fails.
    void attempt(const std::function<void()>& write);
    bool failed() const { return !failures_.empty(); }
    // Names every failure on stderr; exit 2 when a report (or standard output)
    // was not written, else `verdict`.
    int finish(int verdict) const;

private:
    std::vector<std::string> failures_;
};

}  // namespace kiv
