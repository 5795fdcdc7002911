#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "file_native.h"
#include "qir_sys/error.h"
#include "qir_sys/fault.h"
#include "qir_sys/file.h"
#include "qir_sys/process.h"
#include "qir_win32.h"

namespace qir::sys::native {

namespace {

// Whether the call at `site` is to fail; if so, the last-error value is what the failed call
// would leave.
bool failsHere(fault::Site site) {
    uint32_t error = 0;
    if (!fault::injected(site, error)) {
        return false;
    }
    SetLastError(error);
    return true;
}

uint32_t writeOnce(HANDLE file, const void* data, size_t size) {
    if (size > MAXDWORD) {
        return kErrorInvalidParameter;
    }
    if (failsHere(fault::Site::FileWrite)) {
        return GetLastError();
    }
    DWORD written = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr)) {
        return GetLastError();
    }
    return written == size ? kErrorSuccess : kErrorWriteFault;
}

Path folderOf(const Path& path) {
    const size_t separator = path.find_last_of(L"\\/");
    if (separator != Path::npos) {
        return path.substr(0, separator + 1);
    }
    if (path.size() >= 2 && path[1] == L':') {
        return path.substr(0, 2);
    }
    return {};
}

}  // namespace

void HandleTraits::release(void* handle) {
    CloseHandle(handle);
    failsHere(fault::Site::FileClose);
}

uint32_t toPath(const WideUnit* text, Path& out) {
    out = text;
    if (out.empty()) {
        return kErrorPathNotFound;
    }
    // Devices and pipes are refused by name: opening one could already hand its server the
    // writer's identity, or hold the writer.
    return deviceNameProblem(text).empty() ? kErrorSuccess : kErrorAccessDenied;
}

// The name the system gets for `path`: its full path in the long form, so that no name made
// beside the target (temporary and per-thread names) meets the limit of plain paths; the path as
// it is where it has no long form.
Path systemName(const Path& path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        return path;
    }
    wchar_t stack[MAX_PATH];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, stack, nullptr);
    Path full;
    if (length != 0 && length < MAX_PATH) {
        full.assign(stack, length);
    } else if (length != 0) {
        full.resize(length);
        length = GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
        full.resize(length < full.size() ? length : 0);
    }
    Path form = longPathForm(full.c_str());
    return form.empty() ? path : form;
}

// Every open asks that the identity of the caller go no further than a server's identification:
// a name that still reaches a pipe cannot let its server act as the writer.
constexpr DWORD kOpenFlags =
    FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Append access without FILE_WRITE_DATA makes every write land at the end of the file; the read
// right is what LockFileEx needs. Files are shared with every other appender, also while their
// creator has still to write the header of a file made in place.
constexpr DWORD kAppendAccess = FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isEmpty(const File& file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file.get(), &size) && size.QuadPart == 0;
}

uint32_t openExisting(const Path& path, File& file, bool& empty) {
    file.reset(failsHere(fault::Site::FileOpen)
                   ? INVALID_HANDLE_VALUE
                   : CreateFileW(systemName(path).c_str(), kAppendAccess, kShareAll, nullptr,
                                 OPEN_EXISTING, kOpenFlags, nullptr));
    if (!file) {
        return GetLastError();
    }
    // A pipe or a device named as the target could hold the writer: only disk files are written.
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        file.reset();
        return kErrorAccessDenied;
    }
    empty = isEmpty(file);
    return kErrorSuccess;
}

uint32_t createUnnamed(const Path&, File&) {
    return kErrorNotSupported;
}

uint32_t createNamed(const Path& path, File& file) {
    file.reset(failsHere(fault::Site::FileCreate)
                   ? INVALID_HANDLE_VALUE
                   : CreateFileW(systemName(path).c_str(), kAppendAccess, kShareAll, nullptr,
                                 CREATE_NEW, kOpenFlags, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS ? uint32_t{kErrorAlreadyExists} : error;
    }
    fault::succeeded(fault::Site::FileCreate);
    return kErrorSuccess;
}

// Windows does not show a symbolic link to a missing file (Wine hides it from every look but
// the creation of the name): a name that a creation found taken but that opens as no file is
// taken for one. OPEN_ALWAYS makes the file where the link leads; Wine at times reports a file
// that another caller made a moment before as made by this one, so the header goes in only while
// the file is still empty under the append lock (appendHeaded).
uint32_t createThroughLink(const Path& path, bool nameTaken, File& file, bool& created) {
    if (!nameTaken) {
        return kErrorFileNotFound;
    }
    HANDLE opened = failsHere(fault::Site::FileCreate)
                        ? INVALID_HANDLE_VALUE
                        : CreateFileW(path.c_str(), kAppendAccess, kShareAll, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    file.reset(opened);
    if (!file) {
        return error;
    }
    created = error != ERROR_ALREADY_EXISTS;
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        file.reset();
        return kErrorAccessDenied;
    }
    return kErrorSuccess;
}

Path temporaryName(const Path& path, uint32_t serial) {
    return folderOf(path) + L".qir-" + std::to_wstring(processId()) + L"-" +
           std::to_wstring(threadId()) + L"-" + std::to_wstring(serial) + L".tmp";
}

// Both pieces in one write.
uint32_t writeJoined(const File& file, const void* first, size_t firstSize, const void* second,
                     size_t secondSize) {
    std::unique_ptr<unsigned char[]> joined;
    if (secondSize != 0) {
        joined.reset(new (std::nothrow) unsigned char[firstSize + secondSize]);
        if (!joined) {
            return kErrorNotEnoughMemory;
        }
        std::memcpy(joined.get(), first, firstSize);
        std::memcpy(joined.get() + firstSize, second, secondSize);
        first = joined.get();
        firstSize += secondSize;
    }
    return writeOnce(file.get(), first, firstSize);
}

// Wine, and network shares on Windows, do not keep appends of several processes apart: a write
// runs under an exclusive lock on one byte far past any real end of the file. A lock that cannot
// be had does not hold the line back. The first piece is left out when `withFirst`, asked under
// the lock, says so.
template <typename WithFirst>
uint32_t appendLocked(const File& file, const void* first, size_t firstSize, const void* second,
                      size_t secondSize, WithFirst withFirst) {
    OVERLAPPED where{};
    where.Offset = 0xFFFFFFFE;
    where.OffsetHigh = 0x7FFFFFFF;  // 2^63 - 2
    const bool locked = LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where) != FALSE;
    const uint32_t result = withFirst(file)
                                ? writeJoined(file, first, firstSize, second, secondSize)
                                : writeJoined(file, second, secondSize, nullptr, 0);
    if (locked) {
        UnlockFileEx(file.get(), 0, 1, 0, &where);
    }
    return result;
}

uint32_t append(const File& file, const void* first, size_t firstSize, const void* second,
                size_t secondSize) {
    return appendLocked(file, first, firstSize, second, secondSize,
                        [](const File&) { return true; });
}

uint32_t appendHeaded(const File& file, const void* header, size_t headerSize, const void* data,
                      size_t size) {
    return appendLocked(file, header, headerSize, data, size, isEmpty);
}

// A new name by a hard link never replaces one, not even a symbolic link to a missing file, which
// Wine's rename replaces; the temporary name goes afterwards. File systems without hard links
// (FAT, some network shares) rename without replacing.
uint32_t publish(File& file, const Path& temporary, const Path& path) {
    file.reset();
    if (!failsHere(fault::Site::FileLink) &&
        CreateHardLinkW(systemName(path).c_str(), systemName(temporary).c_str(), nullptr)) {
        return kErrorSuccess;
    }
    const DWORD refused = GetLastError();
    if (refused == ERROR_ALREADY_EXISTS || refused == ERROR_FILE_EXISTS) {
        return kErrorAlreadyExists;
    }
    if (refused != ERROR_INVALID_FUNCTION && refused != ERROR_NOT_SUPPORTED &&
        refused != ERROR_CALL_NOT_IMPLEMENTED && refused != ERROR_TOO_MANY_LINKS) {
        return refused;
    }
    if (failsHere(fault::Site::FileRename) ||
        !MoveFileExW(systemName(temporary).c_str(), systemName(path).c_str(), 0)) {
        const DWORD error = GetLastError();
        return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                   ? uint32_t{kErrorAlreadyExists}
                   : error;
    }
    return kErrorSuccess;
}

void removeName(const Path& path) {
    try {
        DeleteFileW(systemName(path).c_str());
    } catch (...) {
        DeleteFileW(path.c_str());  // no memory for the long form
    }
}

uint32_t deleteFile(const Path& path) {
    if (DeleteFileW(systemName(path).c_str())) {
        return kErrorSuccess;
    }
    // A missing folder holds no such file either.
    const DWORD error = GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? uint32_t{kErrorFileNotFound} : error;
}

}  // namespace qir::sys::native

namespace qir::sys {

AppendCheck checkAppend(const WideUnit* text) {
    AppendCheck check;
    native::Path path;
    const uint32_t converted = text == nullptr ? kErrorPathNotFound : native::toPath(text, path);
    if (converted == kErrorAccessDenied) {
        check.error = converted;
        check.reason = win32::narrow(text) + " is refused: " + deviceNameProblem(text);
        return check;
    }
    if (converted != kErrorSuccess) {
        check.error = kErrorPathNotFound;
        check.reason = "no path";
        return check;
    }
    // The folder with its final separator ("C:\" is the root, "C:" the drive's current folder).
    const size_t separator = path.find_last_of(L"\\/");
    const native::Path folder = separator != native::Path::npos ? path.substr(0, separator + 1)
                                : path.size() >= 2 && path[1] == L':' ? path.substr(0, 2)
                                                                      : native::Path(L".\\");
    // Named without its final separator, unless it is a root's.
    const size_t kept = folder.size() > 1 && folder[folder.size() - 2] != L':' &&
                                (folder.back() == L'\\' || folder.back() == L'/')
                            ? folder.size() - 1
                            : folder.size();
    const std::string folderName = win32::narrow(folder.substr(0, kept));
    const std::string name = win32::narrow(path);
    const DWORD folderAttributes = GetFileAttributesW(native::systemName(folder).c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES ||
        (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const DWORD error = GetLastError();
        check.error = kErrorPathNotFound;
        check.reason = "the folder " + folderName +
                       (folderAttributes != INVALID_FILE_ATTRIBUTES ? " is not a folder"
                        : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                            ? " does not exist"
                            : ": " + errorText(error));
        return check;
    }
    const DWORD attributes = GetFileAttributesW(native::systemName(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        check.error = kErrorAccessDenied;
        check.reason = name + " is not a regular file: it is a folder";
        return check;
    }
    // Opening asks the system's own access check; neither open changes anything.
    native::File file(CreateFileW(native::systemName(path).c_str(), native::kAppendAccess,
                                  native::kShareAll, nullptr, OPEN_EXISTING, native::kOpenFlags,
                                  nullptr));
    DWORD error = file ? ERROR_SUCCESS : GetLastError();
    if (file && GetFileType(file.get()) != FILE_TYPE_DISK) {
        check.error = kErrorAccessDenied;
        check.reason = name + " is not a regular file: it is a device or a pipe";
        return check;
    }
    if (error == ERROR_FILE_NOT_FOUND) {
        const native::File directory(CreateFileW(
            native::systemName(folder).c_str(), FILE_ADD_FILE, native::kShareAll, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | native::kOpenFlags, nullptr));
        error = directory ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS) {
            check.error = kErrorAccessDenied;
            check.reason = "this user cannot create files in the folder " + folderName + ": " +
                           errorText(error);
        }
    } else if (error != ERROR_SUCCESS) {
        check.error = kErrorAccessDenied;
        check.reason = "this user cannot write to " + name + ": " + errorText(error);
    }
    return check;
}

}  // namespace qir::sys
