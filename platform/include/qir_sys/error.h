// The calling thread's last-error value: GetLastError on Windows, errno on POSIX.
#pragma once

#include <cstdint>

namespace qir::sys {

// Windows error numbers that the platform layer answers on every platform.
enum : uint32_t {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorInvalidParameter = 87,
    kErrorModNotFound = 126,
    kErrorProcNotFound = 127,
    kErrorAlreadyExists = 183,
    kErrorMoreData = 234,
};

// Reads the thread's last-error value without changing it.
uint32_t lastError();
// Sets the thread's last-error value.
void setLastError(uint32_t value);

}  // namespace qir::sys
