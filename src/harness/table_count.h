// table_count: counting the rows of a unit's tables at compile time.
#pragma once

#include <initializer_list>

// The sum of one term per row, expanded from a table as ({0, 1, 1, ...}).
// Written as one long expression (0 + 1 + 1 ...) the sum costs the compiler
// time that grows with the cube of the rows (minutes for a unit of ten
// thousand goals); a list and a loop grow with the rows.
constexpr int kiv_sum(std::initializer_list<int> terms) {
    int sum = 0;
    for (int t : terms) sum += t;
    return sum;
}
