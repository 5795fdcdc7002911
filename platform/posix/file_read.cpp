#include "qir_sys/file_read.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "errno_map.h"
#include "qir_sys/error.h"

namespace qir::sys {

namespace {

void toFacts(const struct stat& status, FileFacts& out) {
    out.kind = S_ISREG(status.st_mode)   ? FileKind::Regular
               : S_ISDIR(status.st_mode) ? FileKind::Folder
                                         : FileKind::Other;
    out.size = out.kind == FileKind::Regular ? static_cast<uint64_t>(status.st_size) : 0;
    out.volume = static_cast<uint64_t>(status.st_dev);
    out.index = static_cast<uint64_t>(status.st_ino);
    out.modified = static_cast<uint64_t>(status.st_mtim.tv_sec) * 1000000000u +
                   static_cast<uint64_t>(status.st_mtim.tv_nsec);
}

}  // namespace

void ReadHandleTraits::release(intptr_t handle) {
    ::close(static_cast<int>(handle));
}

uint32_t fileFacts(const char* path, FileFacts& out) {
    struct stat status {};
    if (::stat(path, &status) != 0) {
        return fromErrno(errno);
    }
    toFacts(status, out);
    return kErrorSuccess;
}

bool standardOutputGone() {
    pollfd out{STDOUT_FILENO, 0, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP)) != 0;
}

uint32_t FileReader::open(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    m_file.reset(fd);
    return fd < 0 ? fromErrno(errno) : kErrorSuccess;
}

uint32_t FileReader::openStandardInput() {
    const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    m_file.reset(fd);
    return fd < 0 ? fromErrno(errno) : kErrorSuccess;
}

uint32_t FileReader::facts(FileFacts& out) const {
    struct stat status {};
    if (::fstat(static_cast<int>(m_file.get()), &status) != 0) {
        return fromErrno(errno);
    }
    toFacts(status, out);
    return kErrorSuccess;
}

uint32_t FileReader::seek(uint64_t offset) {
    return ::lseek(static_cast<int>(m_file.get()), static_cast<off_t>(offset), SEEK_SET) < 0
               ? fromErrno(errno)
               : kErrorSuccess;
}

uint32_t FileReader::read(void* buffer, size_t size, size_t& got) {
    for (;;) {
        const ssize_t count = ::read(static_cast<int>(m_file.get()), buffer, size);
        if (count >= 0) {
            got = static_cast<size_t>(count);
            return kErrorSuccess;
        }
        if (errno != EINTR) {
            return fromErrno(errno);
        }
    }
}

}  // namespace qir::sys
