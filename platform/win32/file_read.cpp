#include "qir_sys/file_read.h"

#include <string>

#include "qir_sys/error.h"
#include "qir_sys/file.h"
#include "qir_win32.h"

namespace qir::sys {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handleOf(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// Backup semantics let a folder open as well, so that its facts can say it is one. A path that
// is not UTF-8 names no file. Devices and pipes are refused by name, before any open (error 5),
// and no open lets a pipe's server act as the reader.
HANDLE openPath(const char* path, DWORD access) {
    const std::wstring wide = win32::widen(path);
    if (wide.empty()) {
        SetLastError(*path == '\0' ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    if (!deviceNameProblem(wide.c_str()).empty()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(wide.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                       nullptr);
}

uint32_t factsOf(HANDLE file, FileFacts& out) {
    out = FileFacts{};
    if (GetFileType(file) != FILE_TYPE_DISK) {
        return kErrorSuccess;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        return GetLastError();
    }
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.kind = folder ? FileKind::Folder : FileKind::Regular;
    out.size = folder ? 0 : (uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
    out.volume = info.dwVolumeSerialNumber;
    out.index = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    out.modified =
        uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 | info.ftLastWriteTime.dwLowDateTime;
    return kErrorSuccess;
}

}  // namespace

void ReadHandleTraits::release(intptr_t handle) {
    CloseHandle(handleOf(handle));
}

uint32_t fileFacts(const char* path, FileFacts& out) {
    Scoped<ReadHandleTraits> file(reinterpret_cast<intptr_t>(openPath(path, FILE_READ_ATTRIBUTES)));
    if (!file) {
        return GetLastError();
    }
    return factsOf(handleOf(file.get()), out);
}

uint32_t FileReader::open(const char* path) {
    m_file.reset(reinterpret_cast<intptr_t>(openPath(path, GENERIC_READ)));
    return m_file ? uint32_t{kErrorSuccess} : GetLastError();
}

uint32_t FileReader::openStandardInput() {
    HANDLE copy = INVALID_HANDLE_VALUE;
    const HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, GetStdHandle(STD_INPUT_HANDLE), process, &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return GetLastError();
    }
    m_file.reset(reinterpret_cast<intptr_t>(copy));
    return kErrorSuccess;
}

uint32_t FileReader::facts(FileFacts& out) const {
    return factsOf(handleOf(m_file.get()), out);
}

uint32_t FileReader::seek(uint64_t offset) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handleOf(m_file.get()), to, nullptr, FILE_BEGIN)
               ? uint32_t{kErrorSuccess}
               : GetLastError();
}

uint32_t FileReader::read(void* buffer, size_t size, size_t& got) {
    DWORD count = 0;
    got = 0;
    if (!ReadFile(handleOf(m_file.get()), buffer,
                  size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size), &count, nullptr)) {
        const DWORD error = GetLastError();
        // The writer of a pipe has closed it: its end.
        return error == ERROR_BROKEN_PIPE ? uint32_t{kErrorSuccess} : error;
    }
    got = count;
    return kErrorSuccess;
}

bool standardOutputGone() {
    return false;
}

}  // namespace qir::sys
