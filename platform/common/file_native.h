// The system calls of the file facility, for the logic that platform/common/file.cpp states once
// for every platform; each platform implements them in its file.cpp, over the Path and File of
// its file_handle.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file_handle.h"
#include "qir_sys/wide.h"

namespace qir::sys::native {

// The path of UTF-16 text: 0, 3 for an empty path, 123 for an unpaired surrogate where paths are
// UTF-8 (POSIX).
uint32_t toPath(const WideUnit* text, Path& out);

// Opens an existing file to append to it: 0; 2 when there is none; 5 for a folder, a device, a
// pipe, a socket or anything else that is not a regular file on a disk, which is never written
// (nor waited for: the open does not block). `empty`: the file holds no byte yet (one made in
// place, where no new file could be published whole, whose creator is still to write).
uint32_t openExisting(const Path& path, File& file, bool& empty);

// Whether an open file holds no byte.
bool isEmpty(const File& file);

// A new file without a name in the folder of `path`, to be published by publish(); 50 where the
// system or the file system cannot make one (always on Windows), 3 when the folder does not
// exist.
uint32_t createUnnamed(const Path& path, File& file);

// A new file under `path` itself, opened to append and shared with other appenders as
// openExisting opens it: 183 when the name exists, 3 when the folder does not.
uint32_t createNamed(const Path& path, File& file);

// When `path` is a symbolic link to a missing file, creates that file as open(2) with O_CREAT
// would through the link, opened as createNamed opens: 0, with `created` true when this call
// made it, or says so (Windows: Wine at times says so of a file that another caller made a
// moment before), and false when the file was there. 183 when the file exists by now, 2
// when `path` is no such link, 5 when the link may not be followed to create a file.
// `nameTaken`: a creation found the name taken though it opens as no file; Windows, which does
// not show a link to a missing file, goes by that alone.
uint32_t createThroughLink(const Path& path, bool nameTaken, File& file, bool& created);

// The name of a temporary file beside `path`, unique to this thread and `serial`.
Path temporaryName(const Path& path, uint32_t serial);

// Writes both pieces with one write that lands whole at the end of the file (on Windows under a
// byte-range lock that keeps appends of several processes apart where the system does not: Wine,
// network shares); 29 when the system took only part of them.
uint32_t append(const File& file, const void* first, size_t firstSize, const void* second,
                size_t secondSize);

// Appends `data`, after `header` when the file is still empty, as one step against other
// callers of this function on the same file: however many find a new file empty, the header
// goes in once.
uint32_t appendHeaded(const File& file, const void* header, size_t headerSize, const void* data,
                      size_t size);

// Gives the new file (unnamed, or under `temporary`) the name `path` unless that name exists:
// 0, and `file`, while it stays open, appends to the published file (Windows closes it first);
// 183 when the name exists; 50 when this file system offers no way to publish without replacing.
uint32_t publish(File& file, const Path& temporary, const Path& path);

// Removes a name; nothing when there is none.
void removeName(const Path& path);

// Deletes the file: 0, 2 when there is none (or no folder), another number when it stays.
uint32_t deleteFile(const Path& path);

}  // namespace qir::sys::native
