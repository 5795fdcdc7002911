// The system calls of the file facility on Windows, for the logic that platform/common/file.cpp
// states once for every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "qir_sys/scoped.h"
#include "qir_sys/wide.h"

namespace qir::sys::native {

// A path as Windows takes it: UTF-16.
using Path = std::wstring;

// Closes a file handle; a close that fails has released it all the same.
struct HandleTraits {
    static void* invalid() { return reinterpret_cast<void*>(static_cast<intptr_t>(-1)); }
    static void release(void* handle);
};
using File = Scoped<HandleTraits>;

// The path of UTF-16 text: 0, or 3 for an empty path.
uint32_t toPath(const WideUnit* text, Path& out);

// Opens an existing file to append to it: 0; 2 when there is none; 5 for anything that is not a
// file on a disk (a pipe, a device), which is never written. `empty`: the file holds no byte
// yet (one made in place, where a rename could not publish it, whose creator is still to write).
uint32_t openExisting(const Path& path, File& file, bool& empty);

// Whether an open file holds no byte.
bool isEmpty(const File& file);

// Windows has no unnamed files: 50.
uint32_t createUnnamed(const Path& path, File& file);

// A new file under `path` itself, opened to append and shared with other appenders as
// openExisting opens it: 183 when the name exists, 3 when the folder does not.
uint32_t createNamed(const Path& path, File& file);

// The name of a temporary file beside `path`, unique to this thread and `serial`.
Path temporaryName(const Path& path, uint32_t serial);

// Writes both pieces with one write at the end of the file, under a byte-range lock that keeps
// appends of several processes apart where the system does not (Wine, network shares); 29 when
// the system took only part of them.
uint32_t append(const File& file, const void* first, size_t firstSize, const void* second,
                size_t secondSize);

// Closes the new file and moves it from `temporary` to `path` unless that name exists: 0, 183
// when the name exists.
uint32_t publish(File& file, const Path& temporary, const Path& path);

// Removes a name; nothing when there is none.
void removeName(const Path& path);

// Deletes the file: 0, 2 when there is none (or no folder), another number when it stays.
uint32_t deleteFile(const Path& path);

}  // namespace qir::sys::native
