#include "qir_sys/file.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "qir_sys/error.h"
#include "qir_sys/fault.h"
#include "qir_sys/process.h"
#include "qir_sys/utf8.h"

namespace qir::sys {

namespace {

constexpr uint32_t kErrorGeneric = 1;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorWriteProtect = 19;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorFilenameTooLong = 206;
constexpr uint32_t kErrorFileTooLarge = 223;
constexpr uint32_t kErrorIoDevice = 1117;
constexpr uint32_t kErrorCantResolveFilename = 1921;

// The Windows error number for the errno of a file operation; the one place where they are
// matched. ENOENT is 2 here: callers that know the folder is missing answer 3 themselves.
uint32_t fromErrno(int error) {
    switch (error) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
            return kErrorAccessDenied;
        case EEXIST:
            return kErrorAlreadyExists;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case EROFS:
            return kErrorWriteProtect;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EBUSY:
        case ETXTBSY:
            return kErrorSharingViolation;
        case ELOOP:
            return kErrorCantResolveFilename;
        case EFBIG:
            return kErrorFileTooLarge;
        case EIO:
            return kErrorIoDevice;
        case EINVAL:
            return kErrorInvalidParameter;
        default:
            return kErrorGeneric;
    }
}

// The errno that fromErrno takes to `error`, so that a failure the fault seam plays reaches the
// code as the failed system call's errno would; EPROTO (1) for a number without one.
int errnoFor(uint32_t error) {
    static const int kMapped[] = {ENOENT, ENOTDIR, EACCES, EEXIST, ENOSPC, EROFS, ENAMETOOLONG,
                                  EMFILE, ENOMEM,  EBUSY,  ELOOP,  EFBIG,  EIO,   EINVAL};
    for (int mapped : kMapped) {
        if (fromErrno(mapped) == error) {
            return mapped;
        }
    }
    return EPROTO;
}

// Whether the call at `site` is to fail; if so, errno is what the failed call would leave.
bool failsHere(fault::Site site) {
    uint32_t error = 0;
    if (!fault::injected(site, error)) {
        return false;
    }
    errno = errnoFor(error);
    return true;
}

// UTF-16 to UTF-8; false for an unpaired surrogate.
bool toUtf8(const WideUnit* path, std::string& out) {
    for (const WideUnit* p = path; *p != 0; ++p) {
        uint32_t value = static_cast<uint16_t>(*p);
        if (value >= 0xDC00 && value <= 0xDFFF) {
            return false;
        }
        if (value >= 0xD800 && value <= 0xDBFF) {
            const uint32_t low = static_cast<uint16_t>(p[1]);
            if (low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
            ++p;
        }
        appendUtf8(out, value);
    }
    return true;
}

class UniqueFile {
  public:
    explicit UniqueFile(int fd) : m_fd(fd) {}
    ~UniqueFile() {
        if (m_fd >= 0) {
            // A close that fails has released the descriptor all the same.
            ::close(m_fd);
            failsHere(fault::Site::FileClose);
        }
    }
    UniqueFile(const UniqueFile&) = delete;
    UniqueFile& operator=(const UniqueFile&) = delete;

    explicit operator bool() const { return m_fd >= 0; }
    int get() const { return m_fd; }

  private:
    int m_fd;
};

// A temporary file that is unlinked when it goes unless it was published under its real name.
class TemporaryName {
  public:
    TemporaryName() = default;
    ~TemporaryName() {
        if (!m_name.empty()) {
            ::unlink(m_name.c_str());
        }
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;

    void set(std::string name) { m_name = std::move(name); }
    const std::string& name() const { return m_name; }

  private:
    std::string m_name;
};

// Writes the pieces with one writev, so that with O_APPEND they land together at the end of
// the file. A write that takes fewer bytes than given is a write fault.
uint32_t writeOnce(int fd, const void* first, size_t firstSize, const void* second,
                   size_t secondSize) {
    iovec pieces[2] = {{const_cast<void*>(first), firstSize},
                       {const_cast<void*>(second), secondSize}};
    const size_t total = firstSize + secondSize;
    if (failsHere(fault::Site::FileWrite)) {
        return fromErrno(errno);
    }
    ssize_t written = 0;
    do {
        // A plain write when there is one piece: it costs less than writev.
        written = secondSize == 0 ? ::write(fd, first, firstSize) : ::writev(fd, pieces, 2);
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        return fromErrno(errno);
    }
    return static_cast<size_t>(written) == total ? kErrorSuccess : kErrorWriteFault;
}

int openForAppend(const std::string& path) {
    if (failsHere(fault::Site::FileOpen)) {
        return -1;
    }
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
}

constexpr int kCreateFlags = O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC;
constexpr mode_t kNewFileMode = 0666;  // less the umask, as every program's new files

int createNew(const std::string& path) {
    if (failsHere(fault::Site::FileCreate)) {
        return -1;
    }
    return ::open(path.c_str(), kCreateFlags, kNewFileMode);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return path.substr(0, slash + 1);
}

// Creates a file of a name no other caller uses in the folder of `path`.
int createTemporary(const std::string& path, TemporaryName& temporary) {
    static std::atomic<uint32_t> counter{0};
    const std::string prefix = folderOf(path) + ".qir-" + std::to_string(processId()) + "-" +
                               std::to_string(threadId()) + "-";
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = prefix + std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd = createNew(name);
        if (fd >= 0) {
            temporary.set(std::move(name));
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

// What a creation attempt came to: a result for the caller, or another file won the race.
struct Creation {
    bool exists;
    uint32_t result;
};

// Where hard links are not possible: an exclusive create, with the header and the line in
// one write. Another appender may then see the file empty for a moment.
Creation createExclusively(const std::string& path, const void* header, size_t headerSize,
                           const void* data, size_t size) {
    const UniqueFile file(createNew(path));
    if (!file) {
        const int error = errno;
        return {error == EEXIST, error == ENOENT ? kErrorPathNotFound : fromErrno(error)};
    }
    return {false, writeOnce(file.get(), header, headerSize, data, size)};
}

// Writes the header into a temporary file beside `path` and links it to `path`, which fails
// when the name exists; so the file appears only with its header, and only once.
Creation createWithHeader(const std::string& path, const void* header, size_t headerSize,
                          const void* data, size_t size) {
    TemporaryName temporary;
    const UniqueFile file(createTemporary(path, temporary));
    if (!file) {
        // The temporary lies in the same folder: ENOENT means the folder is missing.
        return {false, errno == ENOENT ? kErrorPathNotFound : fromErrno(errno)};
    }
    const uint32_t written = writeOnce(file.get(), header, headerSize, nullptr, 0);
    if (written != kErrorSuccess) {
        return {false, written};
    }
    if (::link(temporary.name().c_str(), path.c_str()) == 0) {
        // The descriptor now appends to the published file.
        return {false, writeOnce(file.get(), data, size, nullptr, 0)};
    }
    switch (errno) {
        case EEXIST:
            return {true, kErrorAlreadyExists};
        case EPERM:
        case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
        case ENOTSUP:
#endif
        case EXDEV:
        case EMLINK:
            return createExclusively(path, header, headerSize, data, size);
        default:
            return {false, fromErrno(errno)};
    }
}

}  // namespace

uint32_t appendToFile(const WideUnit* path, const void* header, size_t headerSize, const void* data,
                      size_t size) {
    if (path == nullptr) {
        return kErrorInvalidParameter;
    }
    std::string name;
    if (!toUtf8(path, name)) {
        return kErrorInvalidName;
    }
    if (name.empty()) {
        return kErrorPathNotFound;
    }
    // Another loop only when the file that won the race was deleted before we opened it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const UniqueFile file(openForAppend(name));
        if (file) {
            return writeOnce(file.get(), data, size, nullptr, 0);
        }
        if (errno != ENOENT) {
            return fromErrno(errno);
        }
        const Creation created = createWithHeader(name, header, headerSize, data, size);
        if (!created.exists) {
            return created.result;
        }
    }
    return kErrorFileNotFound;
}

uint32_t deleteFile(const WideUnit* path) {
    if (path == nullptr) {
        return kErrorInvalidParameter;
    }
    std::string name;
    if (!toUtf8(path, name)) {
        return kErrorInvalidName;
    }
    if (::unlink(name.c_str()) == 0) {
        return kErrorSuccess;
    }
    // A missing folder holds no such file either.
    return errno == ENOENT || errno == ENOTDIR ? kErrorFileNotFound : fromErrno(errno);
}

}  // namespace qir::sys
