// Run-time loading of shared libraries and lookup of their symbols.
#pragma once

#include <cstdint>
#include <string>

#include "qir_sys/scoped.h"

namespace qir::sys {

// How a plug-in library that lies outside the system is named on each platform.
struct PluginName {
    const char* windowsFile;  // looked for beside the host executable and in System32
    const char* posixFile;    // looked for beside the module that holds this code
    const char* posixEnv;     // names a full path that replaces the search (secure_getenv)
    // On Windows, a string value of a key below HKEY_LOCAL_MACHINE (ASCII names) that names
    // the library by its absolute path in place of the search; only administrators can write
    // there. A relative path there is refused. Null: no such value is read.
    const char* windowsRegistryKey = nullptr;
    const char* windowsRegistryValue = nullptr;
};

// Where openPlugin takes a plug-in from at this moment, and why; for people and tools.
struct PluginSource {
    std::string path;         // UTF-8: a configured path, or the bare file name that is searched
                              // for; empty when a configured path is refused
    std::string reason;       // in words: where the path comes from, or why it is refused
    bool configured = false;  // the path replaces the search
};
PluginSource pluginSource(const PluginName& name);

// Drops one reference to a loaded library.
struct LibraryTraits {
    static void* invalid() { return nullptr; }
    static void release(void* handle);
};

// Owns one reference to a loaded library; the reference is dropped when the owner goes.
// Move-only. An empty owner (failed load) holds nothing and resolves no symbol.
class Library {
  public:
    Library() = default;

    explicit operator bool() const { return static_cast<bool>(m_handle); }
    // The address of an exported symbol, or null (last error set) when there is none.
    void* symbol(const char* name) const;
    // The full path of the file the system loaded, as UTF-8; empty for an empty owner or when
    // the system does not say.
    std::string path() const;

  private:
    friend Library openLibrary(const std::string&, uint32_t&, std::string*);
    friend Library openPlugin(const PluginName&, uint32_t&);
    explicit Library(void* handle) : m_handle(handle) {}

    Scoped<LibraryTraits> m_handle;
};

// The file name a library of this stem has on this platform: "VelnorApi" gives
// "VelnorApi.dll" on Windows and "libVelnorApi.so" on POSIX.
std::string libraryFileName(const std::string& stem);

// Loads a library by path or file name. A bare file name is looked for only in the
// directory of the running executable and the system directories on Windows, and along the
// executable's run path and the system's library path on POSIX; never in the current
// directory. On failure the owner is empty and `error` is 126 (not found or not loadable), and
// `reason`, when given, is the system loader's own words for it (dlerror, FormatMessage).
Library openLibrary(const std::string& name, uint32_t& error, std::string* reason = nullptr);

// Loads a plug-in library from where pluginSource says, without ever searching the current
// directory or PATH, and without changing the host's own library search. On failure (a
// refused path included) the owner is empty and `error` is 126.
Library openPlugin(const PluginName& name, uint32_t& error);

}  // namespace qir::sys
