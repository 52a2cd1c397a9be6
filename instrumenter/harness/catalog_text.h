// kivinst harness: the catalog of a generated unit set, written from the
// same rows kivinst writes into its tables; the build names the library in
// it (tools/catalog_gen/catalog_stamp.cpp).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "instrument.h"
#include "model.h"

namespace kivinst::harness {

// One row of goals.def: goal number, record, field.
struct GoalRow {
    int n = 0;
    std::string record, field;
};

struct CatalogInput {
    const std::vector<Scope>* scopes = nullptr;          // with their variables, IDs and kiv_haux numbers
    std::vector<kivinst::Record> records;                // every source's records, in records.def order
    std::vector<GoalRow> goals;                          // in goals.def order
    std::vector<std::pair<int, int>> goal_ids;           // id, goal number
    std::vector<std::pair<std::string, std::string>> sites;  // each source's sites file: its path in DIR, its text
};

// The catalog without a library; throws BadInput where the tables disagree.
std::string catalog_text(const CatalogInput& in);

}  // namespace kivinst::harness
