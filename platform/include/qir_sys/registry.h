// Reading the machine-wide registry (HKEY_LOCAL_MACHINE). On Windows the real registry; on
// POSIX a text file in the .reg format that regedit writes and `reg import` reads: the file
// named by $QIR_REGISTRY, else /etc/qir/registry.reg, read anew by every openRegistryKey. A
// file that cannot be read or parsed is an empty registry. Names compare case-insensitively.
#pragma once

#include <cstdint>

#include "qir_sys/wide.h"

namespace qir::sys {

// An open registry key; closed when its owner goes. Move-only; an empty owner holds no key.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    explicit operator bool() const { return m_handle != nullptr; }
    void* handle() const { return m_handle; }
    // Takes ownership of a platform handle (for the implementations of this facility).
    explicit RegistryKey(void* handle) : m_handle(handle) {}

private:
    void* m_handle = nullptr;
};

// Opens the key at `path` below HKEY_LOCAL_MACHINE (backslash-separated, e.g.
// "Software\\Halvex\\Logs\\Default") for reading. Answers 0, or 2 when there is no such key,
// or another Windows error number; `key` is left empty on failure.
uint32_t openRegistryKey(const WideUnit* path, RegistryKey& key);

// The number of subkeys of an open key. Answers 0 or a Windows error number (6 for an empty
// owner).
uint32_t registrySubkeyCount(const RegistryKey& key, uint32_t& count);

// The name of the subkey at `index` (subkeys in case-insensitive alphabetical order) into
// `name`, which holds `capacity` units with the terminator. Answers 0; 234 when the name and
// its terminator do not fit (`name` then holds nothing defined); 259 past the last subkey.
uint32_t registrySubkeyName(const RegistryKey& key, uint32_t index, WideUnit* name,
                            uint32_t capacity);

// The data of the value `name` of an open key (an empty or null name: the key's default
// value) into `buffer` of `size` bytes, as stored, whatever its type. Answers 0 and sets
// `size` to the bytes stored; 2 when there is no such value; 234 when the data does not fit
// (the buffer then holds nothing defined, and `size` is the size it needs).
uint32_t registryQueryValue(const RegistryKey& key, const WideUnit* name, void* buffer,
                            uint32_t& size);

}  // namespace qir::sys
