// Makes heap allocations fail on demand, for tests of what the code does when the heap
// refuses: the n-th allocation from now, or every allocation for a while. It replaces the
// global operator new of the test program; only allocations of the thread that armed it
// count, and while it is not armed it only passes requests on to malloc.
#pragma once

#include <cstdint>

namespace allocseam {

// While alive, the n-th allocation of this thread from now fails (n = 1: the next one);
// n = 0 makes every allocation fail. Counts the allocations made meanwhile.
class Failing {
  public:
    explicit Failing(uint64_t n);
    ~Failing();
    Failing(const Failing&) = delete;
    Failing& operator=(const Failing&) = delete;

    // Whether an allocation was refused.
    bool fired() const;
    // Allocations requested while armed, the refused ones included.
    uint64_t requests() const;
};

// Counts this thread's allocations while alive.
class Counting {
  public:
    Counting();
    ~Counting();
    Counting(const Counting&) = delete;
    Counting& operator=(const Counting&) = delete;
    uint64_t requests() const;
};

}  // namespace allocseam
