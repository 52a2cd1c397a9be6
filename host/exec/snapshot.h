// A copy of a library's writable data, put back between test cases so each
// case starts from the state the library had when it was loaded.
#pragma once

#include "load/library.h"

#include <vector>

namespace kiv {

class Snapshot {
public:
    void take(const std::vector<Range>& ranges);
    void restore() const;
    std::size_t bytes() const { return saved_.size(); }

private:
    std::vector<Range> ranges_;
    std::vector<unsigned char> saved_;
};

}  // namespace kiv
