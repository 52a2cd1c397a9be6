// The traceability reports, each written from the result's trace section and
// the statuses derived from it (trace/status.h).
#pragma once

#include "model/result.h"
#include "trace/status.h"

#include <ostream>
#include <string>

namespace kiv {

// The requirements section of the text report; `verbose` lists every case of
// every requirement, not only those that keep it from being verified.
void write_trace_text(const Result& result, const TraceSummary& summary, std::ostream& out, bool verbose);
// A requirement x case matrix: a row per requirement, a column per linked case,
// each cell the case's verdict and extent ("passed full").
void write_trace_csv(const Result& result, const TraceSummary& summary, std::ostream& out);
// ReqIF 1.2 of the requirements with their status, linked cases and text
// hash, which reads back as a requirement set (ReqIF.ForeignID, ReqIF.Name,
// ReqIF.Text, Revision, IntegrityLevel) with the same text hashes.
void write_trace_reqif(const Result& result, const TraceSummary& summary, std::ostream& out);
// A folder: index.html (the matrix) and a page per requirement.
void write_trace_html(const Result& result, const TraceSummary& summary, const std::string& dir);

}  // namespace kiv
