// Run-time loading of shared libraries and lookup of their symbols.
#pragma once

#include <cstdint>
#include <string>

namespace qir::sys {

// How a plug-in library that lies outside the system is named on each platform.
struct PluginName {
    const char* windowsFile;  // looked for beside the host executable and in System32
    const char* posixFile;    // looked for beside the module that holds this code
    const char* posixEnv;     // names a full path that replaces the search (secure_getenv)
};

// Owns one reference to a loaded library; the reference is dropped when the owner goes.
// Move-only. An empty owner (failed load) holds nothing and resolves no symbol.
class Library {
  public:
    Library() = default;
    ~Library();
    Library(Library&& other) noexcept;
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    explicit operator bool() const { return m_handle != nullptr; }
    // The address of an exported symbol, or null (last error set) when there is none.
    void* symbol(const char* name) const;

  private:
    friend Library openLibrary(const std::string&, uint32_t&);
    friend Library openPlugin(const PluginName&, uint32_t&);
    explicit Library(void* handle) : m_handle(handle) {}
    void* m_handle = nullptr;
};

// The file name a library of this stem has on this platform: "VelnorApi" gives
// "VelnorApi.dll" on Windows and "libVelnorApi.so" on POSIX.
std::string libraryFileName(const std::string& stem);

// Loads a library by path or file name. A bare file name is looked for only in the
// directory of the running executable and the system directories on Windows, and along the
// executable's run path and the system's library path on POSIX; never in the current
// directory. On failure the owner is empty and `error` is 126 (not found or not loadable).
Library openLibrary(const std::string& name, uint32_t& error);

// Loads a plug-in library without ever searching the current directory or PATH, and without
// changing the host's own library search. On failure the owner is empty and `error` is 126.
Library openPlugin(const PluginName& name, uint32_t& error);

}  // namespace qir::sys
