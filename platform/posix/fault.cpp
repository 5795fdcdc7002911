#include "qir_sys/fault.h"

#include <dirent.h>

namespace qir::sys::fault {

// The entries of /proc/self/fd, less the one that reading the folder opens.
uint64_t openHandleCount() {
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) {
        return 0;
    }
    uint64_t count = 0;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(folder);
    return count > 0 ? count - 1 : 0;
}

}  // namespace qir::sys::fault
