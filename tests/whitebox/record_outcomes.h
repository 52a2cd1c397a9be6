// The outcomes a decision, condition or relational record has seen, as text
// that reads well in an assertion: "-", "F", "T" or "FT".
#pragma once

#include <string>

template <class Record>
std::string outcomes(const Record& rec) {
    std::string seen;
    if (rec.falseSeen) seen += 'F';
    if (rec.trueSeen) seen += 'T';
    return seen.empty() ? "-" : seen;
}
