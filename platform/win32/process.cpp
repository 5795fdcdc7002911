#include "qir_sys/process.h"
#include "qir_win32.h"

namespace qir::sys {

uint32_t processId() {
    return GetCurrentProcessId();
}

uint32_t threadId() {
    return GetCurrentThreadId();
}

std::string executablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return win32::narrow(path);
        }
        if (path.size() >= 32768) {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

uint32_t executablePathUtf16(WideUnit* out, uint32_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    const DWORD length = GetModuleFileNameW(nullptr, out, capacity);
    // A path that fills the buffer was cut.
    return length == 0 || length >= capacity ? 0 : length;
}

}  // namespace qir::sys
