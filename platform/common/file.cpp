// Appending to log files, the same on every platform: a file is opened and closed for every
// append; a missing one appears under its name already holding its header, exactly once,
// whoever races to create it, and no temporary file outlives the call. The system calls are in
// the platform's file_native.h.
#include "qir_sys/file.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "file_native.h"
#include "qir_sys/error.h"

namespace qir::sys {

namespace {

// Another round only when a file that won a race was deleted again before it could be opened.
constexpr int kAttempts = 8;
// Temporary names tried in a row; they carry the process id, thread id and a serial number.
constexpr int kTemporaryNames = 16;
// How long an appender waits for a file that its creator made in place to get its header.
constexpr auto kHeaderWait = std::chrono::milliseconds(200);

// A temporary file's name, removed when its owner goes: the file stays under its real name
// when it was published there (by a link, or by a rename that leaves nothing to remove).
class TemporaryName {
  public:
    TemporaryName() = default;
    ~TemporaryName() {
        if (!m_name.empty()) {
            native::removeName(m_name);
        }
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;

    void set(native::Path name) { m_name = std::move(name); }
    const native::Path& name() const { return m_name; }

  private:
    native::Path m_name;
};

// What a creation came to: a result for the caller, or another caller's file won the race.
struct Creation {
    bool raced;
    uint32_t result;
};

uint32_t createTemporary(const native::Path& path, native::File& file, TemporaryName& name) {
    static std::atomic<uint32_t> serial{0};
    for (int attempt = 0; attempt < kTemporaryNames; ++attempt) {
        native::Path candidate = native::temporaryName(path, serial.fetch_add(1));
        const uint32_t error = native::createNamed(candidate, file);
        if (error == kErrorSuccess) {
            name.set(std::move(candidate));
            return kErrorSuccess;
        }
        if (error != kErrorAlreadyExists) {
            return error;
        }
    }
    return kErrorAlreadyExists;
}

// A new file that gets the header while it has no name, or only a temporary one, and is then
// published under `path` without replacing whatever won the race; the line follows through the
// same file when it is still open. 50 when this kind of file cannot be made or published here.
Creation publishNew(const native::Path& path, bool unnamed, const void* header, size_t headerSize,
                    const void* data, size_t size) {
    // The name goes after the file is closed: Windows keeps the name of a file that is open.
    TemporaryName temporary;
    native::File file;
    uint32_t error =
        unnamed ? native::createUnnamed(path, file) : createTemporary(path, file, temporary);
    if (error == kErrorSuccess) {
        error = native::append(file, header, headerSize, nullptr, 0);
    }
    if (error == kErrorSuccess) {
        error = native::publish(file, temporary.name(), path);
    }
    if (error == kErrorAlreadyExists) {
        return {true, error};
    }
    if (error != kErrorSuccess) {
        return {false, error};
    }
    if (!file) {
        return {true, kErrorSuccess};  // published and closed: the next round appends
    }
    return {false, native::append(file, data, size, nullptr, 0)};
}

// Where no file can be published whole, it is made in place and the header and the line go in
// one write; appenders that find it empty wait for the header (appendOpened).
Creation createInPlace(const native::Path& path, const void* header, size_t headerSize,
                       const void* data, size_t size) {
    native::File file;
    const uint32_t error = native::createNamed(path, file);
    if (error == kErrorAlreadyExists) {
        return {true, error};
    }
    if (error != kErrorSuccess) {
        return {false, error};
    }
    return {false, native::append(file, header, headerSize, data, size)};
}

Creation create(const native::Path& path, const void* header, size_t headerSize, const void* data,
                size_t size) {
    for (const bool unnamed : {true, false}) {
        const Creation created = publishNew(path, unnamed, header, headerSize, data, size);
        if (created.raced || created.result != kErrorNotSupported) {
            return created;
        }
    }
    return createInPlace(path, header, headerSize, data, size);
}

// A file that holds nothing yet was made in place by a creator that has still to write its
// header: wait for it a while. One that stays empty gets the header with this line.
uint32_t appendOpened(const native::File& file, bool empty, const void* header, size_t headerSize,
                      const void* data, size_t size) {
    if (empty) {
        const auto deadline = std::chrono::steady_clock::now() + kHeaderWait;
        while ((empty = native::isEmpty(file)) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (empty) {
            return native::appendHeaded(file, header, headerSize, data, size);
        }
    }
    return native::append(file, data, size, nullptr, 0);
}

uint32_t appendAt(const native::Path& name, const void* header, size_t headerSize, const void* data,
                  size_t size) try {
    bool raced = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        native::File file;
        bool empty = false;
        const uint32_t opened = native::openExisting(name, file, empty);
        if (opened == kErrorSuccess) {
            return appendOpened(file, empty, header, headerSize, data, size);
        }
        if (opened != kErrorFileNotFound) {
            return opened;
        }
        // A symbolic link to a missing file: the file is made where the link leads, in place,
        // as open(2) would make it.
        bool made = false;
        const uint32_t linked = native::createThroughLink(name, raced, file, made);
        if (linked == kErrorSuccess) {
            return made ? native::appendHeaded(file, header, headerSize, data, size)
                        : appendOpened(file, native::isEmpty(file), header, headerSize, data, size);
        }
        if (linked != kErrorFileNotFound && linked != kErrorAlreadyExists) {
            return linked;
        }
        const Creation created = create(name, header, headerSize, data, size);
        if (!created.raced) {
            return created.result;
        }
        raced = true;
    }
    return kErrorFileNotFound;
} catch (...) {
    return kErrorNotEnoughMemory;  // the paths' storage is all that can throw
}

}  // namespace

struct AppendTarget::Path {
    native::Path name;
};

AppendTarget::AppendTarget() noexcept : m_error(kErrorInvalidParameter) {}

AppendTarget::AppendTarget(const WideUnit* path) noexcept : m_error(kErrorInvalidParameter) {
    if (path == nullptr) {
        return;
    }
    try {
        m_path = std::make_unique<Path>();
        m_error = native::toPath(path, m_path->name);
    } catch (...) {
        m_error = kErrorNotEnoughMemory;
    }
    if (m_error != kErrorSuccess) {
        m_path.reset();
    }
}

AppendTarget::~AppendTarget() = default;

uint32_t AppendTarget::append(const void* header, size_t headerSize, const void* data,
                              size_t size) const {
    return m_path ? appendAt(m_path->name, header, headerSize, data, size) : m_error;
}

uint32_t appendToFile(const WideUnit* path, const void* header, size_t headerSize, const void* data,
                      size_t size) {
    return AppendTarget(path).append(header, headerSize, data, size);
}

uint32_t deleteFile(const WideUnit* path) try {
    if (path == nullptr) {
        return kErrorInvalidParameter;
    }
    native::Path name;
    const uint32_t converted = native::toPath(path, name);
    if (converted == kErrorPathNotFound) {
        return kErrorFileNotFound;  // an empty path names no file
    }
    return converted != kErrorSuccess ? converted : native::deleteFile(name);
} catch (...) {
    return kErrorNotEnoughMemory;
}

}  // namespace qir::sys
