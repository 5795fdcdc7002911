// The file facility's types on Windows: how a path and an open file are held (see
// platform/common/file_native.h).
#pragma once

#include <cstdint>
#include <string>

#include "qir_sys/scoped.h"

namespace qir::sys::native {

// A path as Windows takes it: UTF-16.
using Path = std::wstring;

// Closes a file handle; a close that fails has released it all the same.
struct HandleTraits {
    static void* invalid() { return reinterpret_cast<void*>(static_cast<intptr_t>(-1)); }
    static void release(void* handle);
};
using File = Scoped<HandleTraits>;

}  // namespace qir::sys::native
