// Reading files that other processes append to, rename, replace or truncate meanwhile: the tools'
// side of the log files. A file's identity tells the file read before from another that has
// taken its name since. Paths are UTF-8 (on POSIX any bytes, as the file system holds them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "qir_sys/scoped.h"

namespace qir::sys {

enum class FileKind { Regular, Folder, Other };  // Other: a device, a pipe, a socket, ...

// What one look at a file tells. `volume` and `index` are the device and inode numbers on
// POSIX, the volume serial number and the file index on Windows; `size` is 0 unless Regular.
// `modified` is the time of the last write in the platform's own units: it is only compared.
struct FileFacts {
    FileKind kind = FileKind::Other;
    uint64_t size = 0;
    uint64_t volume = 0;
    uint64_t index = 0;
    uint64_t modified = 0;
};

inline bool sameFile(const FileFacts& a, const FileFacts& b) {
    return a.volume == b.volume && a.index == b.index;
}

// Facts about the file at `path`, without reading it: 0, or a Windows error number (2 or 3 when
// there is none, 5 when access is denied).
uint32_t fileFacts(const char* path, FileFacts& out);

// Whether standard output leads to a pipe or socket whose reading end is gone, so that nothing
// written there is read any more. On Windows only a failed write tells: false there.
bool standardOutputGone();

// Closes a descriptor or handle held as an integer.
struct ReadHandleTraits {
    static intptr_t invalid() { return -1; }
    static void release(intptr_t handle);
};

// One open file to read, shared with every writer, renamer and deleter of it (on Windows it
// never stands in the way of a rotation). Move-only; it closes what it holds when it goes.
class FileReader {
  public:
    // Opens the file at `path` from its start without waiting (a FIFO without a writer does not
    // block): 0, or a Windows error number. A folder opens too; facts() tells it.
    uint32_t open(const char* path);
    // Reads standard input through a copy of its descriptor or handle, bytes as they come.
    uint32_t openStandardInput();
    void close() { m_file.reset(); }
    explicit operator bool() const { return static_cast<bool>(m_file); }

    uint32_t facts(FileFacts& out) const;
    // Places the next read at `offset` bytes from the start.
    uint32_t seek(uint64_t offset);
    // Reads at most `size` bytes: 0 with `got` bytes read (0 at the end), or an error number.
    uint32_t read(void* buffer, size_t size, size_t& got);

  private:
    Scoped<ReadHandleTraits> m_file;
};

}  // namespace qir::sys
