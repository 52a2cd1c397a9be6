// Putting a snapshot worker's process state back between cases.
#include "exec/process_state.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kiv::detail {

namespace {

long max_resident_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

void ProcessState::take(bool timers, bool random) {
    start_kib_ = max_resident_kib();
    timers_ = timers;
    if (!random) return;
    // initstate hands back the generator's state as it was, its position
    // written into its first word; a copy of it is where every case starts.
    // Only the default kind (128 bytes, type 3) is copied: another size is
    // one a library chose, and is left alone.
    char* current = initstate(1, buffers_[0], kRandomBytes);
    if (!current) return;
    int32_t header = 0;
    std::memcpy(&header, current, sizeof header);
    random_ = header % 5 == 3;
    if (random_) std::memcpy(pristine_, current, kRandomBytes);
    setstate(current);
}

void ProcessState::restore() {
    if (timers_) alarm(0);
    if (random_) {
        // setstate first stores the position of the state in use into it, so
        // the pristine copy goes into the buffer not in use.
        std::memcpy(buffers_[next_], pristine_, kRandomBytes);
        setstate(buffers_[next_]);
        next_ ^= 1;
    }
}

bool ProcessState::grown() {
    if (++cases_ % kCheckEvery != 0) return false;
    return max_resident_kib() - start_kib_ > kHeapBoundKiB;
}

}  // namespace kiv::detail
