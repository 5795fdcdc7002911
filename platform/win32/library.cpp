#include "qir_sys/library.h"

#include <cwchar>
#include <utility>
#include <vector>

#include "qir_sys/error.h"
#include "qir_sys/registry.h"
#include "qir_win32.h"

namespace qir::sys {

void LibraryTraits::release(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}

void* Library::symbol(const char* name) const {
    FARPROC address =
        m_handle ? GetProcAddress(static_cast<HMODULE>(m_handle.get()), name) : nullptr;
    if (address == nullptr) {
        SetLastError(kErrorProcNotFound);
    }
    return reinterpret_cast<void*>(address);
}

std::string Library::path() const {
    std::wstring path(MAX_PATH, L'\0');
    while (m_handle && path.size() <= 32768) {  // the longest path Windows takes
        const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(m_handle.get()), &path[0],
                                                static_cast<DWORD>(path.size()));
        if (length == 0) {
            break;
        }
        if (length < path.size()) {
            path.resize(length);
            return win32::narrow(path);
        }
        path.resize(path.size() * 2);  // cut off: the path is longer than the buffer
    }
    return {};
}

std::string libraryFileName(const std::string& stem) {
    return stem + ".dll";
}

namespace {

// The application directory, directories added by the host and System32: never the current
// directory or PATH. Chosen per call, so the host's process-wide search order is left alone.
HMODULE loadFromDefaultDirectories(const std::wstring& name) {
    return name.empty() ? nullptr
                        : LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

}  // namespace

Library openLibrary(const std::string& name, uint32_t& error, std::string* reason) {
    HMODULE handle = loadFromDefaultDirectories(win32::widen(name));
    error = handle != nullptr ? kErrorSuccess : kErrorModNotFound;
    if (handle == nullptr && reason != nullptr) {
        *reason = errorText(GetLastError());
    }
    return Library(handle);
}

namespace {

// A path that names one file whatever the current directory and drive: "C:\dir\file.dll",
// "\\server\share\file.dll" and the "\\?\" forms. "C:file.dll" and "\dir\file.dll" are not.
bool isAbsolute(const std::wstring& path) {
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (path.size() < 3) {
        return false;
    }
    const bool letter =
        (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    return (letter && path[1] == L':' && separator(path[2])) ||
           (separator(path[0]) && separator(path[1]));
}

// The plug-in's registry value as text: 0; 2 when the key or the value is missing or empty;
// another error when it cannot be read.
uint32_t registryPath(const PluginName& name, std::wstring& path) {
    RegistryKey key;
    uint32_t error = openRegistryKey(win32::widen(name.windowsRegistryKey).c_str(), key);
    if (error != kErrorSuccess) {
        return error;
    }
    std::vector<wchar_t> buffer(32768, L'\0');  // the longest path Windows takes
    auto size = static_cast<uint32_t>((buffer.size() - 1) * sizeof(wchar_t));
    error = registryQueryValue(key, win32::widen(name.windowsRegistryValue).c_str(), buffer.data(),
                               size);
    if (error != kErrorSuccess) {
        return error;
    }
    path.assign(buffer.data(), wcsnlen(buffer.data(), size / sizeof(wchar_t)));
    return path.empty() ? kErrorFileNotFound : kErrorSuccess;
}

// pluginSource, with the configured path as the registry holds it.
PluginSource locate(const PluginName& name, std::wstring& path) {
    if (name.windowsRegistryKey == nullptr || name.windowsRegistryValue == nullptr) {
        return {name.windowsFile, "searched in the host's folder and System32", false};
    }
    const std::string where = std::string(name.windowsRegistryValue) + " in HKEY_LOCAL_MACHINE\\" +
                              name.windowsRegistryKey;
    const uint32_t error = registryPath(name, path);
    if (error == kErrorFileNotFound) {
        return {name.windowsFile, "searched in the host's folder and System32: no " + where, false};
    }
    if (error != kErrorSuccess) {
        return {"", "refused: " + where + " cannot be read (error " + std::to_string(error) + ")",
                false};
    }
    if (!isAbsolute(path)) {
        return {"",
                "refused: " + where + " holds \"" + win32::narrow(path) +
                    "\", which is not an absolute path",
                false};
    }
    return {win32::narrow(path), "from " + where, true};
}

}  // namespace

PluginSource pluginSource(const PluginName& name) {
    std::wstring path;
    return locate(name, path);
}

Library openPlugin(const PluginName& name, uint32_t& error) {
    std::wstring path;
    const PluginSource source = locate(name, path);
    if (!source.configured) {
        if (source.path.empty()) {
            error = kErrorModNotFound;
            return Library();
        }
        return openLibrary(source.path, error);
    }
    // The libraries it needs come from its own folder and the system's, never from the
    // current directory or PATH.
    HMODULE handle = LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    error = handle != nullptr ? kErrorSuccess : kErrorModNotFound;
    return Library(handle);
}

}  // namespace qir::sys
