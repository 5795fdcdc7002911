// The file facility's types on POSIX: how a path and an open file are held (see
// platform/common/file_native.h).
#pragma once

#include <string>

#include "qir_sys/scoped.h"

namespace qir::sys::native {

// A path as the file system takes it: UTF-8.
using Path = std::string;

// Closes a descriptor; a close that fails has released it all the same.
struct DescriptorTraits {
    static int invalid() { return -1; }
    static void release(int fd);
};
using File = Scoped<DescriptorTraits>;

}  // namespace qir::sys::native
