#include "qir_sys/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qir_sys/error.h"
#include "qir_sys/fault.h"
#include "reg_file.h"

namespace qir::sys {

namespace {

constexpr const char* kDefaultRegistryFile = "/etc/qir/registry.reg";

// What a RegistryKey's handle points to: the whole tree parsed for the open that began it
// (shared with the subkeys opened below it), and the key in it.
struct OpenedKey {
    std::shared_ptr<const regfile::Key> root;
    const regfile::Key* key;
};

const regfile::Key* keyOf(const RegistryKey& key) {
    return key ? static_cast<const OpenedKey*>(key.handle())->key : nullptr;
}

struct DescriptorTraits {
    static int invalid() { return -1; }
    static void release(int fd) { close(fd); }
};

enum class FileRead { Read, Unreadable, OverLimit };

// The bytes of a regular file of at most kMaxFileBytes. O_NONBLOCK keeps a FIFO named by mistake
// from blocking the open.
FileRead readRegistryFile(const char* path, std::vector<uint8_t>& bytes) {
    const Scoped<DescriptorTraits> file(open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat status {};
    if (!file || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return FileRead::Unreadable;
    }
    if (static_cast<uint64_t>(status.st_size) > regfile::kMaxFileBytes) {
        return FileRead::OverLimit;
    }
    // One byte more than the limit shows a file that grew past it while being read.
    bytes.resize(static_cast<size_t>(status.st_size) + 1);
    size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > regfile::kMaxFileBytes) {
                return FileRead::OverLimit;
            }
            bytes.resize(std::min(bytes.size() * 2, regfile::kMaxFileBytes + 1));
        }
        const ssize_t got = read(file.get(), bytes.data() + used, bytes.size() - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return FileRead::Unreadable;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<size_t>(got);
    }
    bytes.resize(used);
    return FileRead::Read;
}

// The file that stands for the registry: $QIR_REGISTRY, else the default.
const char* registryFile() {
    const char* path = secure_getenv("QIR_REGISTRY");
    return path == nullptr || *path == '\0' ? kDefaultRegistryFile : path;
}

std::unique_ptr<regfile::Key> loadRegistry() {
    const char* path = registryFile();
    std::vector<uint8_t> bytes;
    if (readRegistryFile(path, bytes) != FileRead::Read) {
        bytes.clear();
    }
    return regfile::parse(bytes.data(), bytes.size());
}

// The key at a backslash-separated path; empty names (repeated or trailing backslashes) are
// skipped, as Windows skips them.
const regfile::Key* findKey(const regfile::Key& root, std::u16string_view path) {
    const regfile::Key* key = &root;
    while (key != nullptr && !path.empty()) {
        const size_t slash = path.find(u'\\');
        const std::u16string_view name = path.substr(0, slash);
        path = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
        if (!name.empty()) {
            key = key->findSubkey(name);
        }
    }
    return key;
}

std::u16string_view viewOf(const WideUnit* text) {
    return text != nullptr ? std::u16string_view(text) : std::u16string_view();
}

// The value `name` of an open key: 0, 6 for an empty owner, 2 when there is no such value.
uint32_t findValue(const RegistryKey& key, const WideUnit* name, const regfile::Value*& value) {
    const regfile::Key* opened = keyOf(key);
    if (opened == nullptr) {
        return kErrorInvalidHandle;
    }
    value = opened->findValue(viewOf(name));
    return value == nullptr ? kErrorFileNotFound : kErrorSuccess;
}

// Opens `path` below `from` (the root when null) in a parsed tree.
uint32_t openBelow(std::shared_ptr<const regfile::Key> root, const regfile::Key* from,
                   const WideUnit* path, RegistryKey& key) {
    const std::u16string_view names = viewOf(path);
    if (!names.empty() && names[0] == u'\\') {
        return kErrorBadPathname;  // as Windows answers
    }
    const regfile::Key* found = findKey(from != nullptr ? *from : *root, names);
    if (found == nullptr) {
        return kErrorFileNotFound;
    }
    key = RegistryKey(new OpenedKey{std::move(root), found});
    return kErrorSuccess;
}

}  // namespace

void RegistryKeyTraits::release(void* handle) {
    delete static_cast<OpenedKey*>(handle);
}

std::string registrySource() {
    const char* path = registryFile();
    const bool named = path != kDefaultRegistryFile;
    std::vector<uint8_t> bytes;
    const FileRead read = readRegistryFile(path, bytes);
    return std::string("registry file ") + path +
           (named ? " (from QIR_REGISTRY)" : " (QIR_REGISTRY is not set)") +
           (read == FileRead::Read ? ""
            : read == FileRead::OverLimit
                ? ", which is over the limit of 4 MiB (" + std::to_string(regfile::kMaxFileBytes) +
                      " bytes): an empty registry"
                : ", which cannot be read: an empty registry");
}

std::vector<std::string> registryWarnings() {
    std::vector<std::string> lines;
    try {
        const char* path = registryFile();
        std::vector<uint8_t> bytes;
        regfile::SkipReport skipped;
        if (readRegistryFile(path, bytes) == FileRead::Read) {
            regfile::parse(bytes.data(), bytes.size(), &skipped);
        }
        for (const regfile::Skipped& line : skipped.lines) {
            lines.push_back(std::string("registry file ") + path + " line " +
                            std::to_string(line.line) + ": " + line.reason);
        }
        if (skipped.more != 0) {
            lines.push_back(std::string("registry file ") + path + ": " +
                            std::to_string(skipped.more) + " more lines skipped");
        }
    } catch (...) {
        lines.clear();  // out of memory
    }
    return lines;
}

uint32_t openRegistryKey(const WideUnit* path, RegistryKey& key) {
    key = RegistryKey();
    uint32_t injected = 0;
    if (fault::injected(fault::Site::RegistryOpen, injected)) {
        return injected;
    }
    try {
        return openBelow(loadRegistry(), nullptr, path, key);
    } catch (...) {
        return kErrorNotEnoughMemory;  // the only failure the reader throws
    }
}

uint32_t openRegistrySubkey(const RegistryKey& parent, const WideUnit* path, RegistryKey& key) {
    key = RegistryKey();
    uint32_t injected = 0;
    if (fault::injected(fault::Site::RegistryOpen, injected)) {
        return injected;
    }
    if (!parent) {
        return kErrorInvalidHandle;
    }
    const auto* opened = static_cast<const OpenedKey*>(parent.handle());
    try {
        return openBelow(opened->root, opened->key, path, key);
    } catch (...) {
        return kErrorNotEnoughMemory;
    }
}

uint32_t registrySubkeyCount(const RegistryKey& key, uint32_t& count) {
    uint32_t injected = 0;
    if (fault::injected(fault::Site::RegistryCount, injected)) {
        return injected;
    }
    const regfile::Key* opened = keyOf(key);
    if (opened == nullptr) {
        return kErrorInvalidHandle;
    }
    count = static_cast<uint32_t>(opened->subkeyCount());
    return kErrorSuccess;
}

uint32_t registrySubkeyName(const RegistryKey& key, uint32_t index, WideUnit* name,
                            uint32_t capacity) {
    uint32_t injected = 0;
    if (fault::injected(fault::Site::RegistryName, injected)) {
        return injected;
    }
    const regfile::Key* opened = keyOf(key);
    if (opened == nullptr) {
        return kErrorInvalidHandle;
    }
    if (index >= opened->subkeyCount()) {
        return kErrorNoMoreItems;
    }
    const std::u16string& subkey = opened->subkey(index).name();
    if (subkey.size() >= capacity) {
        return kErrorMoreData;
    }
    if (name == nullptr) {
        return kErrorInvalidParameter;
    }
    std::memcpy(name, subkey.c_str(), (subkey.size() + 1) * sizeof(WideUnit));
    return kErrorSuccess;
}

uint32_t registryQueryValue(const RegistryKey& key, const WideUnit* name, void* buffer,
                            uint32_t& size) {
    uint32_t injected = 0;
    if (fault::injected(fault::Site::RegistryQuery, injected)) {
        return injected;
    }
    const regfile::Value* value = nullptr;
    if (const uint32_t error = findValue(key, name, value); error != kErrorSuccess) {
        return error;
    }
    const auto needed = static_cast<uint32_t>(value->data.size());
    if (buffer != nullptr && needed > size) {
        size = needed;
        return kErrorMoreData;
    }
    if (buffer != nullptr && needed > 0) {
        std::memcpy(buffer, value->data.data(), needed);
    }
    size = needed;
    return kErrorSuccess;
}

uint32_t registryValueType(const RegistryKey& key, const WideUnit* name, uint32_t& type,
                           uint32_t& size) {
    const regfile::Value* value = nullptr;
    if (const uint32_t error = findValue(key, name, value); error != kErrorSuccess) {
        return error;
    }
    type = value->type;
    size = static_cast<uint32_t>(value->data.size());
    return kErrorSuccess;
}

}  // namespace qir::sys
