#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

// The file systems whose files only look like files: they stand for the kernel's state, take
// no log and may act on what is written (proc, sysfs, cgroup, debugfs, tracefs, securityfs and
// their kin). Null for a file system that keeps files.
const char* pseudoFileSystem(unsigned long type) {
    static const struct {
        unsigned long type;
        const char* name;
    } kPseudo[] = {
        {0x9fa0, "proc"},           {0x62656572, "sysfs"},     {0x27e0eb, "cgroup"},
        {0x63677270, "cgroup2"},    {0x64626720, "debugfs"},   {0x74726163, "tracefs"},
        {0x73636673, "securityfs"}, {0xf97cff8c, "selinuxfs"}, {0x43415d53, "smackfs"},
        {0x62656570, "configfs"},   {0xcafe4a11, "bpf"},       {0x6165676c, "pstore"},
        {0xde5e81e4, "efivarfs"},   {0x65735543, "fusectl"},   {0x42494e4d, "binfmt_misc"},
        {0x1cd1, "devpts"},         {0x19800202, "mqueue"},    {0x6e736673, "nsfs"},
        {0x7655821, "resctrl"},     {0x50495045, "pipefs"},    {0x534f434b, "sockfs"},
        {0x9fa2, "usbdevfs"},
    };
    for (const auto& pseudo : kPseudo) {
        if (pseudo.type == type) {
            return pseudo.name;
        }
    }
    return nullptr;
}

// A new file can be appended to by every account that may create it: in a folder that its group
// may write, the file gets the folder's group and write access for it, whatever the umask;
// others never get write access from us. What the system refuses leaves the file as made.
void shareWithFolderGroup(int fd, const Path& path) {
    struct stat file {};
    if (::fstat(fd, &file) != 0) {
        return;
    }
    mode_t mode = file.st_mode & 07777 & ~S_IWOTH;
    const Path folder = folderOf(path);
    struct stat parent {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &parent) == 0 &&
        (parent.st_mode & S_IWGRP) != 0) {
        if (file.st_gid != parent.st_gid &&
            ::fchown(fd, static_cast<uid_t>(-1), parent.st_gid) == 0) {
            file.st_gid = parent.st_gid;
        }
        if (file.st_gid == parent.st_gid) {
            mode |= S_IWGRP;
        }
    }
    if (mode != (file.st_mode & 07777)) {
        ::fchmod(fd, mode);
    }
}

// The missing file that the symbolic link `path` names, through a chain of links: 0 and the
// name in `target`; 2 when `path` is no link, 183 when the chain ends in a file that exists
// (now), 5 when a link of it is owned by neither this account nor its folder's owner, so that
// whoever may write in a folder cannot choose where a new file of a privileged host goes.
uint32_t missingLinkTarget(const Path& path, Path& target, std::string* owner) {
    Path name = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat link {};
        if (::lstat(name.c_str(), &link) != 0) {
            if (hop != 0 && errno == ENOENT) {
                target = name;
                return kErrorSuccess;
            }
            return hop == 0 && errno == ENOENT ? kErrorFileNotFound : creationError(errno);
        }
        if (!S_ISLNK(link.st_mode)) {
            return hop == 0 ? kErrorFileNotFound : kErrorAlreadyExists;
        }
        const Path folder = folderOf(name);
        struct stat parent {};
        if (link.st_uid != ::geteuid() &&
            (::stat(folder.empty() ? "." : folder.c_str(), &parent) != 0 ||
             parent.st_uid != link.st_uid)) {
            if (owner != nullptr) {
                *owner = name + " is a symbolic link of another account (uid " +
                         std::to_string(link.st_uid) + ")";
            }
            return kErrorAccessDenied;
        }
        char text[PATH_MAX];
        const ssize_t length = ::readlink(name.c_str(), text, sizeof text);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof text) {
            return kErrorCantResolveFilename;
        }
        name = text[0] == '/' ? Path(text, static_cast<size_t>(length))
                              : folder + Path(text, static_cast<size_t>(length));
    }
    return kErrorCantResolveFilename;
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
    struct statfs system {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        ::fstatfs(file.get(), &system) != 0 ||
        pseudoFileSystem(static_cast<unsigned long>(system.f_type)) != nullptr) {
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
        shareWithFolderGroup(file.get(), path);
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
    shareWithFolderGroup(file.get(), path);
    return kErrorSuccess;
}

uint32_t createThroughLink(const Path& path, bool, File& file, bool& created) {
    Path target;
    const uint32_t found = missingLinkTarget(path, target, nullptr);
    if (found != kErrorSuccess) {
        return found;
    }
    const uint32_t error = createNamed(target, file);
    created = error == kErrorSuccess;
    return error;
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

// The lock is only among callers of this function, which come to a file that they found empty:
// other appends need none.
uint32_t appendHeaded(const File& file, const void* header, size_t headerSize, const void* data,
                      size_t size) {
    int locked = 0;
    do {
        locked = ::flock(file.get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    const uint32_t result = isEmpty(file) ? append(file, header, headerSize, data, size)
                                          : append(file, data, size, nullptr, 0);
    if (locked == 0) {
        ::flock(file.get(), LOCK_UN);
    }
    return result;
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
    // An existing file is appended to as it is; only a new one needs the folder to be writable:
    // the target's, or for a symbolic link to a missing file, the folder where the link leads.
    const char* problem = nullptr;
    std::string name = path;
    std::string where = folder;
    int error = 0;
    struct statfs system {};
    if (::stat(path.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            check.error = kErrorAccessDenied;
            check.reason = path + " is not a regular file: it is " + kindOf(status.st_mode);
            return check;
        }
        problem = ::access(path.c_str(), W_OK) != 0 ? "this user cannot write to " : nullptr;
        error = errno;
        where = path;
    } else if (errno != ENOENT) {
        problem = "this user cannot reach ";
        error = errno;
    } else {
        native::Path target;
        std::string refusal;
        const uint32_t linked = native::missingLinkTarget(path, target, &refusal);
        if (linked == kErrorAccessDenied) {
            check.error = kErrorAccessDenied;
            check.reason = refusal + ": no missing file is made through it";
            return check;
        }
        if (linked == kErrorSuccess) {
            const native::Path parent = native::folderOf(target);
            where = parent.empty()       ? "."
                    : parent.size() == 1 ? parent
                                         : parent.substr(0, parent.size() - 1);
            if (::stat((where + "/.").c_str(), &status) != 0) {
                check.error = kErrorPathNotFound;
                check.reason = path + " is a symbolic link to " + target + ", whose folder " +
                               where + " does not exist";
                return check;
            }
        }
        if (::access(where.c_str(), W_OK | X_OK) != 0) {
            problem = "this user cannot create files in the folder ";
            name = where;
            error = errno;
        }
    }
    const char* pseudo = ::statfs(where.c_str(), &system) == 0
                             ? native::pseudoFileSystem(static_cast<unsigned long>(system.f_type))
                             : nullptr;
    if (pseudo != nullptr) {
        check.error = kErrorAccessDenied;
        check.reason = (where == path ? path : "the folder " + where) + " is on the file system " +
                       pseudo + ", whose files stand for the kernel's state and take no log";
    } else if (problem != nullptr) {
        check.error = kErrorAccessDenied;
        check.reason = problem + name + ": " + std::strerror(error);
    }
    return check;
}

}  // namespace qir::sys
