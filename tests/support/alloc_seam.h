// Makes heap allocations fail on demand, for tests of what the code does when the heap
// refuses: the n-th allocation from now, or every allocation for a while. It replaces the
// global operator new of the test program; only allocations of the thread that armed it
// count, and while it is not armed it only passes requests on to malloc.
#pragma once

#include <cstdint>

#include "qir_types.h"

namespace allocseam {

// The state of one thread's seam.
// failAt 0: every request; largest: the largest request, in bytes.
struct Seam {
    bool armed = false, fired = false;
    uint64_t failAt = 0, requests = 0, largest = 0;
};
inline thread_local QIR_TLS_NODEBUG Seam t_seam;

// While alive, the n-th allocation of this thread from now fails (n = 1: the next one);
// n = 0 makes every allocation fail. Counts the allocations made meanwhile.
class Failing {
  public:
    explicit Failing(uint64_t n) { t_seam = Seam{true, false, n, 0, 0}; }
    ~Failing() { t_seam = Seam{}; }
    Failing(const Failing&) = delete;
    Failing& operator=(const Failing&) = delete;

    // Whether an allocation was refused.
    bool fired() const { return t_seam.fired; }
    // Allocations requested while armed, the refused ones included.
    uint64_t requests() const { return t_seam.requests; }
    // The largest single request while armed, in bytes.
    uint64_t largest() const { return t_seam.largest; }
};

// Counts this thread's allocations while alive, refusing none.
class Counting : public Failing {
  public:
    Counting() : Failing(UINT64_MAX) {}
};

}  // namespace allocseam
