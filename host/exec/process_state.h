// What snapshot isolation puts back between cases besides the library's data:
// the process state a unit is likely to leave behind that a case run in a
// fresh process (fork isolation) would not see. Signal handlers, other timers,
// drand48 and open files are not put back: such a unit needs --isolation fork.
#pragma once

#include <cstddef>

namespace kiv::detail {

class ProcessState {
public:
    // Taken in the worker before its first case: the state every case starts
    // from. Only what the library can touch is put back: `timers` when it
    // calls alarm() or the like, `random` when it calls rand() or the like.
    void take(bool timers, bool random);
    // After a case: cancels an alarm() it left pending (the next case would
    // die of it), and puts rand()/random() back where the first case found it.
    // Cheap enough for every case (no allocation, at most one system call).
    void restore();
    // Whether the worker's resident memory has grown by more than kHeapBound
    // since take(): a unit that leaks on every case. The worker then ends
    // after its case and a fresh one goes on; checked every kCheckEvery cases.
    bool grown();

    static constexpr long kHeapBoundKiB = 256 * 1024;
    static constexpr unsigned kCheckEvery = 16;

private:
    static constexpr std::size_t kRandomBytes = 128;  // glibc's default generator: 31 words and a header
    alignas(8) char pristine_[kRandomBytes] = {};
    alignas(8) char buffers_[2][kRandomBytes] = {};
    bool timers_ = false;  // the library can set an alarm
    bool random_ = false;  // it draws from the generator, which is the default kind, so restoring it is exact
    unsigned next_ = 0;    // the buffer restore() hands to setstate next
    long start_kib_ = 0;
    unsigned cases_ = 0;
};

}  // namespace kiv::detail
