#include "qir_sys/mutex.h"

#include "qir_sys/error.h"
#include "qir_win32.h"

namespace qir::sys {

MutexHandle createMutex() {
    return CreateMutexW(nullptr, FALSE, nullptr);
}

bool lockMutex(MutexHandle mutex, uint32_t timeoutMs) {
    if (mutex == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    const DWORD waited = WaitForSingleObject(mutex, timeoutMs);
    if (waited == WAIT_ABANDONED) {
        // Taken from a thread that ended holding it: answer false, but let it go again so that
        // it does not stay held by a caller that believes it failed.
        ReleaseMutex(mutex);
    }
    return waited == WAIT_OBJECT_0;
}

bool unlockMutex(MutexHandle mutex) {
    return mutex != nullptr && ReleaseMutex(mutex) != FALSE;
}

void renewMutexInChild(MutexHandle) {}

void closeMutex(MutexHandle mutex) {
    if (mutex != nullptr) {
        CloseHandle(mutex);
    }
}

}  // namespace qir::sys
