#include "qir_sys/file.h"

#include <atomic>
#include <string>
#include <utility>

#include "qir_sys/error.h"
#include "qir_sys/fault.h"
#include "qir_sys/process.h"
#include "qir_win32.h"

namespace qir::sys {

namespace {

constexpr uint32_t kErrorWriteFault = 29;

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

class UniqueHandle {
  public:
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    explicit operator bool() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }
    void reset() {
        if (m_handle != INVALID_HANDLE_VALUE) {
            // A close that fails has released the handle all the same.
            CloseHandle(m_handle);
            failsHere(fault::Site::FileClose);
            m_handle = INVALID_HANDLE_VALUE;
        }
    }

  private:
    HANDLE m_handle;
};

// A temporary file that is deleted when it goes unless it was published under its real name.
class TemporaryName {
  public:
    TemporaryName() = default;
    ~TemporaryName() {
        if (!m_name.empty()) {
            DeleteFileW(m_name.c_str());
        }
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;

    void set(std::wstring name) { m_name = std::move(name); }
    const std::wstring& name() const { return m_name; }
    void published() { m_name.clear(); }

  private:
    std::wstring m_name;
};

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

// Append access without FILE_WRITE_DATA makes every write land at the end of the file; the
// read right is what LockFileEx needs.
HANDLE openForAppend(const WideUnit* path) {
    if (failsHere(fault::Site::FileOpen)) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path, FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Wine, and network shares on Windows, do not keep appends of several processes apart: the
// write runs under an exclusive lock on one byte far past any real end of the file. A lock
// that cannot be had does not hold the line back.
uint32_t appendLocked(HANDLE file, const void* data, size_t size) {
    OVERLAPPED where{};
    where.Offset = 0xFFFFFFFE;
    where.OffsetHigh = 0x7FFFFFFF;  // 2^63 - 2
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where) != FALSE;
    const uint32_t result = writeOnce(file, data, size);
    if (locked) {
        UnlockFileEx(file, 0, 1, 0, &where);
    }
    return result;
}

std::wstring folderOf(const WideUnit* path) {
    const std::wstring text(path);
    const size_t separator = text.find_last_of(L"\\/");
    if (separator != std::wstring::npos) {
        return text.substr(0, separator + 1);
    }
    if (text.size() >= 2 && text[1] == L':') {
        return text.substr(0, 2);
    }
    return {};
}

// Creates a file of a name no other caller uses in the folder of `path`.
HANDLE createTemporary(const WideUnit* path, TemporaryName& temporary) {
    static std::atomic<uint32_t> counter{0};
    const std::wstring prefix = folderOf(path) + L".qir-" + std::to_wstring(processId()) + L"-" +
                                std::to_wstring(threadId()) + L"-";
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::wstring name = prefix + std::to_wstring(counter.fetch_add(1)) + L".tmp";
        HANDLE file = failsHere(fault::Site::FileCreate)
                          ? INVALID_HANDLE_VALUE
                          : CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            temporary.set(std::move(name));
            return file;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return INVALID_HANDLE_VALUE;
        }
    }
    return INVALID_HANDLE_VALUE;
}

// Writes the header into a temporary file beside `path` and moves it to `path` without
// replacing, which fails when the name exists; so the file appears only with its header, and
// only once. Answers 0 when the file exists now, whoever made it.
uint32_t createWithHeader(const WideUnit* path, const void* header, size_t headerSize) {
    TemporaryName temporary;
    UniqueHandle file(createTemporary(path, temporary));
    if (!file) {
        return GetLastError();
    }
    const uint32_t written = headerSize > 0 ? writeOnce(file.get(), header, headerSize) : 0;
    file.reset();
    if (written != kErrorSuccess) {
        return written;
    }
    if (MoveFileExW(temporary.name().c_str(), path, 0)) {
        temporary.published();
        return kErrorSuccess;
    }
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? uint32_t{kErrorSuccess}
                                                                       : error;
}

}  // namespace

uint32_t appendToFile(const WideUnit* path, const void* header, size_t headerSize, const void* data,
                      size_t size) {
    if (path == nullptr) {
        return kErrorInvalidParameter;
    }
    // Another loop only when the file was deleted again before we opened it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const UniqueHandle file(openForAppend(path));
        if (file) {
            return appendLocked(file.get(), data, size);
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            return error;
        }
        const uint32_t created = createWithHeader(path, header, headerSize);
        if (created != kErrorSuccess) {
            return created;
        }
    }
    return kErrorFileNotFound;
}

uint32_t deleteFile(const WideUnit* path) {
    if (path == nullptr) {
        return kErrorInvalidParameter;
    }
    if (DeleteFileW(path)) {
        return kErrorSuccess;
    }
    // A missing folder holds no such file either.
    const DWORD error = GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? uint32_t{kErrorFileNotFound} : error;
}

}  // namespace qir::sys
