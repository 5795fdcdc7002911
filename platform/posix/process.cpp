#include "qir_sys/process.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

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

}  // namespace qir::sys
