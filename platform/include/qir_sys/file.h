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
// not exist, 5 when access is denied (or the path names a folder, or on Windows a device or a
// pipe by its name: deviceNameProblem), 29 when the system took only part of the bytes, 123 for a
// path that is not valid UTF-16 on POSIX, 87 for no path.
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
    // POSIX: the folder, when accounts other than its owner and group may write in it (sticky
    // or not), so that they may create or replace the file; always empty on Windows.
    std::string folderOpenToAll;
};
AppendCheck checkAppend(const WideUnit* path);

// Paths judged by their text alone, before anything is opened; the same rules on every platform.

// Why Windows would open something other than a file on a disk under `path`, in words, or empty:
// the device namespaces (\\.\, \\?\ other than a drive's or a server's path, \??\, so also
// GLOBALROOT), a server's pipe or mailslot share, a reserved device name as the last component
// (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, in any case, with any extension). The
// Windows layer opens none of them: a pipe's server could act with the identity of the writer,
// a device could hold it or take the line without keeping it.
std::string deviceNameProblem(const WideUnit* path);

// The long form of a full path (as GetFullPathNameW gives it) that the 260-unit limit of plain
// paths does not hold for: "\\?\C:\..." for a drive's, "\\?\UNC\server\share\..." for a
// server's; empty for any other path, which stays as it is.
std::basic_string<WideUnit> longPathForm(const WideUnit* full);

// The most units a file name (the last component of a path) may have on the file systems logs
// are written to.
constexpr size_t kLongestFileName = 255;
// Why no file could be made under `path` for the length of its file name, in words, or empty.
std::string nameLengthProblem(const WideUnit* path);

// Deletes the file at `path`. Answers 0 when it was deleted, 2 when there was none (also when
// its folder does not exist), another Windows error number when it could not be deleted.
uint32_t deleteFile(const WideUnit* path);

}  // namespace qir::sys
