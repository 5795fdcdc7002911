// An unnamed recursive mutex with a timed lock, held through an opaque handle: on Windows a
// kernel mutex, on POSIX a recursive pthread mutex. The creator owns the handle and closes
// it with closeMutex.
#pragma once

#include <cstdint>

namespace qir::sys {

using MutexHandle = void*;

constexpr uint32_t kWaitForever = 0xFFFFFFFF;

// A new mutex that nobody holds, or null when it cannot be created (last error set).
MutexHandle createMutex();
// Waits up to `timeoutMs` milliseconds (kWaitForever: without limit, 0: not at all) and
// answers true only when the calling thread then holds the mutex. The holder may lock again;
// each lock needs its own unlock. A mutex whose holder thread ended without unlocking it
// answers false once and is let go again, so that it is not left held by that caller.
bool lockMutex(MutexHandle mutex, uint32_t timeoutMs);
// Releases one lock of the calling thread; false when it holds none.
bool unlockMutex(MutexHandle mutex);
// In the child of a fork only: makes the mutex unheld again, whichever thread of the parent held
// it (that thread does not exist here). Nothing on Windows, which has no fork.
void renewMutexInChild(MutexHandle mutex);

// Closes the handle; null is ignored.
void closeMutex(MutexHandle mutex);

}  // namespace qir::sys
