// The requirement x case matrix as CSV, for a spreadsheet.
#include "formats/trace_writers.h"

#include "suite/csv_write.h"

namespace kiv {

namespace {

std::string cell(const std::string& s) {
    return csv_field(s);
}

}  // namespace

void write_trace_csv(const Result& r, const TraceSummary& s, std::ostream& out) {
    std::vector<std::size_t> columns;  // every linked case, in result order
    std::vector<bool> linked(r.cases.size());
    for (const auto& q : s.requirements)
        for (std::size_t c : q.cases) linked[c] = true;
    for (std::size_t c = 0; c < linked.size(); ++c)
        if (linked[c]) columns.push_back(c);
    out << "requirement,revision,status,cases";
    for (std::size_t c : columns)
        out << "," << cell(r.cases[c].id());
    out << "\n";
    for (const auto& q : s.requirements) {
        const int64_t rev =
            q.requirement >= 0 ? r.trace->requirements[static_cast<std::size_t>(q.requirement)].revision : -1;
        out << cell(q.id) << "," << (rev >= 0 ? std::to_string(rev) : "") << "," << req_status_key(q.status) << ","
            << q.cases.size();
        std::size_t k = 0;
        for (std::size_t c : columns) {
            out << ",";
            while (k < q.cases.size() && q.cases[k] < c) ++k;
            if (k < q.cases.size() && q.cases[k] == c)
                out << cell(std::string(verdict_name(r.cases[c].verdict)) + " " +
                            verifies_name(r.trace->links[c].verifies));
        }
        out << "\n";
    }
}

}  // namespace kiv
