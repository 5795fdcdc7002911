// The calling thread's last-error value (GetLastError on Windows, errno on POSIX), and the
// Windows error numbers in which the platform layer answers on every platform: the one list of
// them in the tree.
#pragma once

#include <cstdint>
#include <string>

namespace qir::sys {

enum : uint32_t {
    kErrorSuccess = 0,
    kErrorGeneric = 1,  // ERROR_INVALID_FUNCTION: a failure no other number stands for
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorTooManyOpenFiles = 4,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorWriteProtect = 19,
    kErrorWriteFault = 29,
    kErrorSharingViolation = 32,
    kErrorNotSupported = 50,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorInvalidName = 123,
    kErrorModNotFound = 126,
    kErrorProcNotFound = 127,
    kErrorBadPathname = 161,
    kErrorAlreadyExists = 183,
    kErrorFilenameTooLong = 206,
    kErrorFileTooLarge = 223,
    kErrorMoreData = 234,
    kErrorNoMoreItems = 259,
    kErrorIoDevice = 1117,
    kErrorCantResolveFilename = 1921,
};

// Reads the thread's last-error value without changing it.
uint32_t lastError();

// Sets the thread's last-error value.
void setLastError(uint32_t value);

// A Windows error number in words, for people: the system's message (FormatMessage on Windows,
// strerror of the matching errno on POSIX), or "error N" for a number it has no words for.
std::string errorText(uint32_t error);

}  // namespace qir::sys
