// Log files: appending one piece of text as one unit, and deleting a file. Paths are UTF-16
// (UTF-8 on the file system of POSIX). The file is opened and closed again by every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "qir_sys/wide.h"

namespace qir::sys {

// Appends `size` bytes to the file at `path` as one write that lands at the end of the file
// whole, even while other threads and processes append to the same file. A missing file is
// created first so that it appears under its name already holding the `header` bytes (the
// byte order mark), exactly once, whoever races to create it; no temporary file is left
// behind. New files get the platform's default permissions. The folder is never created.
// Answers 0 when the bytes were appended, else a Windows error number: 3 when the folder does
// not exist, 5 when access is denied (or the path names a folder), 29 when the system took
// only part of the bytes, 123 for a path that is not valid UTF-16 on POSIX, 87 for no path.
uint32_t appendToFile(const WideUnit* path, const void* header, size_t headerSize, const void* data,
                      size_t size);

// A path to append to many times, converted to the system's own form once rather than for
// every append. It stays where it was made.
class AppendTarget {
  public:
    AppendTarget() noexcept;
    explicit AppendTarget(const WideUnit* path) noexcept;
    ~AppendTarget();
    AppendTarget(const AppendTarget&) = delete;
    AppendTarget& operator=(const AppendTarget&) = delete;

    // 0 when the path was made ready; else what appendToFile answers for it (87 for none or a
    // default-made target, 8 when there was no memory).
    uint32_t error() const { return m_error; }
    // appendToFile to this path; the error above when it was not made ready.
    uint32_t append(const void* header, size_t headerSize, const void* data, size_t size) const;

  private:
    struct Path;
    std::unique_ptr<Path> m_path;
    uint32_t m_error;
};

// Whether this user could append to the file at `path` now, as appendToFile would, found without
// creating, opening for writing or changing anything; for people and tools.
struct AppendCheck {
    // 0: it could; else a Windows error number: 3 the folder is missing or is no folder, 5 the
    // folder or the file cannot be written by this user or the path names no regular file.
    uint32_t error = 0;
    std::string reason;  // why not, in words that name the path or its folder (UTF-8)
    // POSIX: the folder, when every user may write in it and it lacks the sticky bit, so that
    // anyone may replace the file; always empty on Windows.
    std::string folderOpenToAll;
};
AppendCheck checkAppend(const WideUnit* path);

// Deletes the file at `path`. Answers 0 when it was deleted, 2 when there was none (also when
// its folder does not exist), another Windows error number when it could not be deleted.
uint32_t deleteFile(const WideUnit* path);

}  // namespace qir::sys
