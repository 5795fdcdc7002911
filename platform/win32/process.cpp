#include "qir_sys/process.h"
#include "qir_win32.h"

#include <algorithm>
#include <memory>
#include <new>

namespace qir::sys {

uint32_t processId() {
    return GetCurrentProcessId();
}

void atFork(void (*)(), void (*)(), void (*)()) {}

uint32_t threadId() {
    return GetCurrentThreadId();
}

namespace {

// The full path of the running executable, however long (up to the 32,767 units of a Windows
// path), in storage that is null when memory runs out; `length` is its length, 0 on failure.
std::unique_ptr<wchar_t[]> modulePath(DWORD& length) {
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::unique_ptr<wchar_t[]> path(new (std::nothrow) wchar_t[size]);
        if (!path) {
            break;
        }
        length = GetModuleFileNameW(nullptr, path.get(), size);
        if (length == 0) {
            break;
        }
        if (length < size) {
            return path;
        }
    }
    length = 0;
    return nullptr;
}

}  // namespace

std::string executablePath() {
    DWORD length = 0;
    const std::unique_ptr<wchar_t[]> path = modulePath(length);
    return path ? win32::narrow(std::wstring(path.get(), length)) : std::string();
}

uint32_t executableNameUtf16(WideUnit* out, uint32_t capacity) {
    DWORD length = 0;
    const std::unique_ptr<wchar_t[]> path = modulePath(length);
    DWORD start = length;
    while (start > 0 && path[start - 1] != L'\\' && path[start - 1] != L'/') {
        --start;
    }
    const DWORD name = length - start;
    if (name == 0 || name >= capacity) {
        return 0;
    }
    std::copy(path.get() + start, path.get() + length, out);
    out[name] = 0;
    return name;
}

}  // namespace qir::sys
