#include "qir_sys/process.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

#include "qir_sys/utf8.h"

namespace qir::sys {

uint32_t processId() {
    return static_cast<uint32_t>(getpid());
}

uint32_t threadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

std::string executablePath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) {
        return {};
    }
    return std::string(path, static_cast<size_t>(length));
}

uint32_t executablePathUtf16(WideUnit* out, uint32_t capacity) {
    char path[PATH_MAX];
    const ssize_t read = readlink("/proc/self/exe", path, sizeof path);
    if (read <= 0 || static_cast<size_t>(read) >= sizeof path) {
        return 0;
    }
    const auto size = static_cast<size_t>(read);
    uint32_t units = 0;
    for (size_t i = 0; i < size;) {
        // UTF-8, as the file system names it; anything else is no path we can hand on.
        uint32_t value = 0;
        const size_t length = decodeUtf8(path + i, size - i, value);
        if (length == 0) {
            return 0;
        }
        const uint32_t need = value > 0xFFFF ? 2 : 1;
        if (units + need >= capacity) {
            return 0;
        }
        if (need == 1) {
            out[units++] = static_cast<WideUnit>(value);
        } else {
            out[units++] = static_cast<WideUnit>(0xD800 + ((value - 0x10000) >> 10));
            out[units++] = static_cast<WideUnit>(0xDC00 + ((value - 0x10000) & 0x3FF));
        }
        i += length;
    }
    if (units == 0 || units >= capacity) {
        return 0;
    }
    out[units] = 0;
    return units;
}

}  // namespace qir::sys
