#include "qir_sys/mutex.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <new>

#include "qir_sys/error.h"

namespace qir::sys {

namespace {

pthread_mutex_t* native(MutexHandle mutex) {
    return static_cast<pthread_mutex_t*>(mutex);
}

// CLOCK_REALTIME, which pthread_mutex_timedlock measures against.
timespec deadlineAfter(uint32_t timeoutMs) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    constexpr long kNanosPerSecond = 1000000000L;
    long nanos = now.tv_nsec + static_cast<long>(timeoutMs % 1000) * 1000000L;
    now.tv_sec += static_cast<time_t>(timeoutMs / 1000) + nanos / kNanosPerSecond;
    now.tv_nsec = nanos % kNanosPerSecond;
    return now;
}

// Robust as well as recursive: when a holder thread ends without unlocking, the next locker
// is told (EOWNERDEAD), as a Windows mutex reports WAIT_ABANDONED.
bool initialize(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) {
        return false;
    }
    const bool made = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                      pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                      pthread_mutex_init(mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return made;
}

}  // namespace

MutexHandle createMutex() {
    auto* mutex = new (std::nothrow) pthread_mutex_t;
    if (mutex == nullptr || !initialize(mutex)) {
        delete mutex;
        setLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    return mutex;
}

// The child has one thread, and no holder but that thread's can ever unlock the mutex: it is
// made anew in its place.
void renewMutexInChild(MutexHandle mutex) {
    if (mutex != nullptr) {
        initialize(native(mutex));
    }
}

bool lockMutex(MutexHandle mutex, uint32_t timeoutMs) {
    if (mutex == nullptr) {
        setLastError(kErrorInvalidHandle);
        return false;
    }
    int result = 0;
    if (timeoutMs == 0) {
        result = pthread_mutex_trylock(native(mutex));
    } else if (timeoutMs == kWaitForever) {
        result = pthread_mutex_lock(native(mutex));
    } else {
        const timespec deadline = deadlineAfter(timeoutMs);
        result = pthread_mutex_timedlock(native(mutex), &deadline);
    }
    if (result == EOWNERDEAD) {
        // Taken from a thread that ended holding it: answer false, as for an abandoned
        // Windows mutex, but let it go again so that it does not stay held by a caller that
        // believes it failed.
        pthread_mutex_consistent(native(mutex));
        pthread_mutex_unlock(native(mutex));
    }
    return result == 0;
}

bool unlockMutex(MutexHandle mutex) {
    return mutex != nullptr && pthread_mutex_unlock(native(mutex)) == 0;
}

void closeMutex(MutexHandle mutex) {
    if (mutex != nullptr) {
        pthread_mutex_destroy(native(mutex));
        delete native(mutex);
    }
}

}  // namespace qir::sys
