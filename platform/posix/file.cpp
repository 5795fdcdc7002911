#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "errno_map.h"
#include "file_native.h"
#include "qir_sys/error.h"
#include "qir_sys/fault.h"
#include "qir_sys/file.h"
#include "qir_sys/process.h"
#include "qir_sys/unicode.h"

namespace qir::sys::native {

namespace {

constexpr mode_t kNewFileMode = 0666;  // less the umask, as every program's new files
constexpr int kAppendFlags = O_WRONLY | O_APPEND | O_CLOEXEC;

// Whether the call at `site` is to fail; if so, errno is what the failed call would leave.
bool failsHere(fault::Site site) {
    uint32_t error = 0;
    if (!fault::injected(site, error)) {
        return false;
    }
    errno = errnoFor(error);
    return true;
}

// The folder part of a path with its final '/', or "" for a bare name.
Path folderOf(const Path& path) {
    const size_t slash = path.rfind('/');
    return slash == Path::npos ? Path() : path.substr(0, slash + 1);
}

// Creation that fails for want of the folder says so: 3, not 2.
uint32_t creationError(int error) {
    return error == ENOENT ? kErrorPathNotFound : fromErrno(error);
}

// A link or rename that this file system refuses as such, rather than for this file.
bool refusedHere(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOTSUP || error == EXDEV ||
           error == EMLINK || error == ENOSYS || error == EINVAL;
}

}  // namespace

void DescriptorTraits::release(int fd) {
    ::close(fd);
    failsHere(fault::Site::FileClose);
}

uint32_t toPath(const WideUnit* text, Path& out) {
    if (!utf16ToUtf8(text, std::char_traits<WideUnit>::length(text), out, false)) {
        return kErrorInvalidName;
    }
    return out.empty() ? kErrorPathNotFound : kErrorSuccess;
}

uint32_t openExisting(const Path& path, File& file, bool& empty) {
    // O_NONBLOCK: a FIFO or a device named as the target must not hold the caller in open().
    file.reset(failsHere(fault::Site::FileOpen)
                   ? -1
                   : ::open(path.c_str(), kAppendFlags | O_NONBLOCK | O_NOCTTY));
    if (!file) {
        return fromErrno(errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        file.reset();
        return kErrorAccessDenied;
    }
    empty = status.st_size == 0;
    return kErrorSuccess;
}

bool isEmpty(const File& file) {
    struct stat status {};
    return ::fstat(file.get(), &status) == 0 && status.st_size == 0;
}

uint32_t createUnnamed(const Path& path, File& file) {
#if defined(O_TMPFILE)
    const Path folder = folderOf(path);
    file.reset(failsHere(fault::Site::FileUnnamed)
                   ? -1
                   : ::open(folder.empty() ? "." : folder.c_str(), kAppendFlags | O_TMPFILE,
                            kNewFileMode));
    if (file) {
        fault::succeeded(fault::Site::FileUnnamed);
        return kErrorSuccess;
    }
    // Kernels without O_TMPFILE see a folder opened for writing (EISDIR).
    return refusedHere(errno) || errno == EISDIR ? kErrorNotSupported : creationError(errno);
#else
    static_cast<void>(path);
    static_cast<void>(file);
    return kErrorNotSupported;
#endif
}

uint32_t createNamed(const Path& path, File& file) {
    file.reset(failsHere(fault::Site::FileCreate)
                   ? -1
                   : ::open(path.c_str(), kAppendFlags | O_CREAT | O_EXCL, kNewFileMode));
    if (!file) {
        return creationError(errno);
    }
    fault::succeeded(fault::Site::FileCreate);
    return kErrorSuccess;
}

Path temporaryName(const Path& path, uint32_t serial) {
    return folderOf(path) + ".qir-" + std::to_string(processId()) + "-" +
           std::to_string(threadId()) + "-" + std::to_string(serial) + ".tmp";
}

uint32_t append(const File& file, const void* first, size_t firstSize, const void* second,
                size_t secondSize) {
    if (failsHere(fault::Site::FileWrite)) {
        return fromErrno(errno);
    }
    iovec pieces[2] = {{const_cast<void*>(first), firstSize},
                       {const_cast<void*>(second), secondSize}};
    ssize_t written = 0;
    do {
        // A plain write when there is one piece: it costs less than writev.
        written = secondSize == 0 ? ::write(file.get(), first, firstSize)
                                  : ::writev(file.get(), pieces, 2);
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        return fromErrno(errno);
    }
    return static_cast<size_t>(written) == firstSize + secondSize ? kErrorSuccess
                                                                  : kErrorWriteFault;
}

uint32_t publish(File& file, const Path& temporary, const Path& path) {
    int result = -1;
    if (temporary.empty()) {
        // An unnamed file is linked through its descriptor's name in /proc.
        const std::string self = "/proc/self/fd/" + std::to_string(file.get());
        result = failsHere(fault::Site::FileLink)
                     ? -1
                     : ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
        if (result != 0 && errno == ENOENT) {
            errno = ENOSYS;  // no /proc: the named way has to serve
        }
    } else {
        result = failsHere(fault::Site::FileLink) ? -1 : ::link(temporary.c_str(), path.c_str());
        // File systems without hard links (FAT, some network shares) may still rename without
        // replacing.
        if (result != 0 && refusedHere(errno)) {
            result = failsHere(fault::Site::FileRename)
                         ? -1
                         : ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(),
                                       RENAME_NOREPLACE);
        }
    }
    if (result == 0) {
        return kErrorSuccess;
    }
    return errno == EEXIST      ? kErrorAlreadyExists
           : refusedHere(errno) ? kErrorNotSupported
                                : fromErrno(errno);
}

void removeName(const Path& path) {
    ::unlink(path.c_str());
}

uint32_t deleteFile(const Path& path) {
    if (::unlink(path.c_str()) == 0) {
        return kErrorSuccess;
    }
    // A missing folder holds no such file either.
    return errno == ENOENT || errno == ENOTDIR ? kErrorFileNotFound : fromErrno(errno);
}

}  // namespace qir::sys::native

namespace qir::sys {

namespace {

const char* kindOf(mode_t mode) {
    return S_ISDIR(mode)                    ? "a folder"
           : S_ISFIFO(mode)                 ? "a FIFO"
           : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
           : S_ISSOCK(mode)                 ? "a socket"
                                            : "not a file";
}

}  // namespace

AppendCheck checkAppend(const WideUnit* text) {
    AppendCheck check;
    native::Path path;
    check.error = text == nullptr ? kErrorPathNotFound : native::toPath(text, path);
    if (check.error != kErrorSuccess) {
        check.reason =
            check.error == kErrorInvalidName ? "the path is not valid UTF-16" : "no path";
        return check;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    struct stat status {};
    // "folder/." names the folder only when it is one.
    if (::stat((folder + "/.").c_str(), &status) != 0) {
        const int error = errno;
        check.error = kErrorPathNotFound;
        check.reason = "the folder " + folder +
                       (error == ENOENT    ? " does not exist"
                        : error == ENOTDIR ? " is not a folder"
                                           : std::string(": ") + std::strerror(error));
        return check;
    }
    // Sticky or not: whoever may create files there may create the log file, or a link in its
    // place, before the programs do.
    if ((status.st_mode & S_IWOTH) != 0) {
        check.folderOpenToAll = folder;
    }
    // An existing file is appended to as it is; only a new one needs the folder to be writable.
    const char* problem = nullptr;
    const std::string* name = &path;
    int error = 0;
    if (::stat(path.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            check.error = kErrorAccessDenied;
            check.reason = path + " is not a regular file: it is " + kindOf(status.st_mode);
            return check;
        }
        problem = ::access(path.c_str(), W_OK) != 0 ? "this user cannot write to " : nullptr;
        error = errno;
    } else if (errno != ENOENT) {
        problem = "this user cannot reach ";
        error = errno;
    } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        problem = "this user cannot create files in the folder ";
        name = &folder;
        error = errno;
    }
    if (problem != nullptr) {
        check.error = kErrorAccessDenied;
        check.reason = problem + *name + ": " + std::strerror(error);
    }
    return check;
}

}  // namespace qir::sys
