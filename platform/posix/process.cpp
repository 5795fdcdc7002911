#include "qir_sys/process.h"

#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "qir_sys/unicode.h"

namespace qir::sys {

uint32_t processId() {
    return static_cast<uint32_t>(getpid());
}

void atFork(void (*prepare)(), void (*parent)(), void (*child)()) {
    pthread_atfork(prepare, parent, child);
}

namespace {

// The kernel's id of this thread, asked for once: every report carries it, and asking is a
// system call. A fork's child runs on a thread of its own, with the forking thread's copy.
thread_local uint32_t t_threadId = 0;

void forgetThreadId() {
    t_threadId = 0;
}

// Registered at load, not on first use: a fork while another thread registered it on first use
// would leave the child waiting for that thread.
const bool g_forgottenInChild = (atFork(nullptr, nullptr, &forgetThreadId), true);

}  // namespace

uint32_t threadId() {
    if (t_threadId == 0) {
        t_threadId = static_cast<uint32_t>(syscall(SYS_gettid));
    }
    return t_threadId;
}

namespace {

// The text of /proc/self/exe into `path` (PATH_MAX bytes, as long as the kernel ever makes it),
// without allocating: its length, or 0. When the executable was replaced or removed after it
// started (a package upgrade), the kernel appends " (deleted)", which names no file: it is
// dropped when no file has the full text as its name.
size_t linkedExecutable(char (&path)[PATH_MAX]) {
    const ssize_t read = readlink("/proc/self/exe", path, sizeof path - 1);
    if (read <= 0 || static_cast<size_t>(read) >= sizeof path - 1) {
        return 0;
    }
    auto length = static_cast<size_t>(read);
    path[length] = '\0';
    static const char kDeleted[] = " (deleted)";
    constexpr size_t kDeletedLength = sizeof kDeleted - 1;
    struct stat status {};
    if (length > kDeletedLength &&
        std::memcmp(path + length - kDeletedLength, kDeleted, kDeletedLength) == 0 &&
        stat(path, &status) != 0) {
        length -= kDeletedLength;
        path[length] = '\0';
    }
    return length;
}

}  // namespace

std::string executablePath() {
    char path[PATH_MAX];
    return std::string(path, linkedExecutable(path));
}

uint32_t executableNameUtf16(WideUnit* out, uint32_t capacity) {
    char path[PATH_MAX];
    const size_t size = linkedExecutable(path);
    size_t start = size;
    while (start > 0 && path[start - 1] != '/' && path[start - 1] != '\\') {
        --start;
    }
    uint32_t units = 0;
    for (size_t i = start; i < size;) {
        // UTF-8, as the file system names it; anything else is no name we can hand on.
        uint32_t value = 0;
        const size_t length = decodeUtf8(path + i, size - i, value);
        if (length == 0) {
            return 0;
        }
        const auto need = static_cast<uint32_t>(utf16Length(value));
        if (units + need >= capacity) {
            return 0;
        }
        putUtf16(value, out + units);
        units += need;
        i += length;
    }
    if (units == 0) {
        return 0;
    }
    out[units] = 0;
    return units;
}

}  // namespace qir::sys
