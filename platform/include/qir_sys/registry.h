// Reading the machine-wide registry (HKEY_LOCAL_MACHINE). On Windows the real registry; on
// POSIX a text file in the .reg format that regedit writes and `reg import` reads: the file
// named by $QIR_REGISTRY (an empty value counts as unset), else /etc/qir/registry.reg, read
// anew by every openRegistryKey; a key opened that way and the subkeys opened below it hold the
// whole file as it was read then. A file
// that cannot be read or parsed is an empty registry. Names compare case-insensitively (on
// POSIX with ASCII case folding only). What the POSIX reader takes, and its limits, are
// described in platform/posix/reg_file.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qir_sys/scoped.h"

#include "qir_sys/wide.h"

namespace qir::sys {

// Closes an open registry key.
struct RegistryKeyTraits {
    static void* invalid() { return nullptr; }
    static void release(void* handle);
};

// An open registry key; closed when its owner goes. Move-only; an empty owner holds no key.
class RegistryKey {
  public:
    RegistryKey() = default;
    // Takes ownership of a platform handle (for the implementations of this facility).
    explicit RegistryKey(void* handle) : m_handle(handle) {}

    explicit operator bool() const { return static_cast<bool>(m_handle); }
    void* handle() const { return m_handle.get(); }

  private:
    Scoped<RegistryKeyTraits> m_handle;
};

// Opens the key at `path` below HKEY_LOCAL_MACHINE (backslash-separated, e.g.
// "Software\\Halvex\\Logs\\Default"; repeated and trailing backslashes are skipped, an empty or
// null path is HKEY_LOCAL_MACHINE itself) for reading. Answers 0, or 2 when there is no such
// key, 161 for a path that starts with a backslash, or another Windows error number (8 when
// the POSIX reader runs out of memory); `key` is left empty on failure.
uint32_t openRegistryKey(const WideUnit* path, RegistryKey& key);

// Opens the key at `path` below an open key, the same way (a null or empty path opens `parent`
// again). On POSIX it shares the file that `parent` read: a whole configuration costs one
// reading of the file. Answers 6 for an empty `parent`.
uint32_t openRegistrySubkey(const RegistryKey& parent, const WideUnit* path, RegistryKey& key);

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
// (the buffer then holds nothing defined, and `size` is the size it needs). A null `buffer`
// asks for the size only: 0, with `size` set to the size the data needs. On any other answer
// `size` is left alone.
uint32_t registryQueryValue(const RegistryKey& key, const WideUnit* name, void* buffer,
                            uint32_t& size);

// Where the registry comes from, for people: on POSIX the file that is read (and whether
// $QIR_REGISTRY named it and it can be read), on Windows the system's registry.
std::string registrySource();

// The lines of the registry file that the POSIX reader skips, for people: "registry file PATH
// line N: why" for each of the first few, then "registry file PATH: N more lines skipped". Empty on
// Windows, for a file that cannot be read (registrySource says so) and when there is no memory.
std::vector<std::string> registryWarnings();

// The types of registry values, numbered as Windows numbers them.
enum : uint32_t {
    kRegistryNone = 0,
    kRegistryString = 1,        // REG_SZ
    kRegistryExpandString = 2,  // REG_EXPAND_SZ
    kRegistryBinary = 3,        // REG_BINARY
    kRegistryDword = 4,         // REG_DWORD
    kRegistryMultiString = 7,   // REG_MULTI_SZ
    kRegistryQword = 11,        // REG_QWORD
};

// The type of the value `name` of an open key (one of the types above, or another number) and
// the bytes its data takes. Answers 0; 2 when there is no such value; another Windows error
// number (6 for an empty owner), with `type` and `size` left alone.
uint32_t registryValueType(const RegistryKey& key, const WideUnit* name, uint32_t& type,
                           uint32_t& size);

}  // namespace qir::sys
