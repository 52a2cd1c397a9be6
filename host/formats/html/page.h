// The HTML report's pieces shared by its index and its source pages.
#pragma once

#include "formats/source.h"

#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace kiv::html {

// The file name of a source file's page: its path with the folders joined by '_'.
std::string page_of(const std::string& file);

// <!DOCTYPE ...><body>, with the report's style.
void page_head(std::ostream& out, const std::string& title);

// Reached, justified and total goals, and the cells of a summary row of them.
struct Tally {
    std::size_t reached = 0, justified = 0, total = 0;
    void add(const GoalResult& g) {
        ++total;
        if (g.reached())
            ++reached;
        else if (g.justification)
            ++justified;
    }
};
std::string summary_cells(const Tally& t);
extern const char* const kSummaryHead;  // the header cells for summary_cells

// Lines with a DA line and those of them that ran, as the lcov file counts them.
struct LineRate {
    std::size_t lines = 0, hit = 0;
    void add(const LineHits& l) {
        if (!l.statement) return;
        ++lines;
        hit += l.hits ? 1 : 0;
    }
    std::string text() const;  // "12/17 (70.6%)"
};

// The page of one source file: its code as one listing, a state and count per
// line and the goals of each line behind a marker. `code` is empty when the
// source was not found (`note` says why); the goals are then listed by line.
void source_page(const Result& r, const FileGoals& f, const std::vector<std::string>& code, const std::string& note,
                 std::ostream& out);

}  // namespace kiv::html
