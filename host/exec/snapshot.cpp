// Saving and restoring a library's writable segments.
#include "exec/snapshot.h"

#include <cstring>

namespace kiv {

namespace {

// Under AddressSanitizer the segments hold poisoned red zones between the
// globals, which memcpy would report; the copy goes byte by byte unchecked.
#if defined(__SANITIZE_ADDRESS__)
__attribute__((no_sanitize("address"), noinline)) void copy_bytes(unsigned char* to, const unsigned char* from,
                                                                  std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        to[i] = from[i];
        asm volatile("" ::: "memory");  // keeps the loop from becoming a memcpy call
    }
}
#else
void copy_bytes(unsigned char* to, const unsigned char* from, std::size_t n) {
    std::memcpy(to, from, n);
}
#endif

}  // namespace

void Snapshot::take(const std::vector<Range>& ranges) {
    ranges_ = ranges;
    std::size_t total = 0;
    for (const auto& r : ranges_)
        total += r.size();
    saved_.resize(total);
    std::size_t at = 0;
    for (const auto& r : ranges_) {
        copy_bytes(saved_.data() + at, reinterpret_cast<const unsigned char*>(r.begin), r.size());
        at += r.size();
    }
}

void Snapshot::restore() const {
    std::size_t at = 0;
    for (const auto& r : ranges_) {
        copy_bytes(reinterpret_cast<unsigned char*>(r.begin), saved_.data() + at, r.size());
        at += r.size();
    }
}

}  // namespace kiv
