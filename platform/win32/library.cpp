#include "qir_sys/library.h"

#include <utility>

#include "qir_sys/error.h"
#include "qir_win32.h"

namespace qir::sys {

Library::~Library() {
    if (m_handle != nullptr) {
        FreeLibrary(static_cast<HMODULE>(m_handle));
    }
}

Library::Library(Library&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        Library old(std::move(*this));
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void* Library::symbol(const char* name) const {
    FARPROC address =
        m_handle != nullptr ? GetProcAddress(static_cast<HMODULE>(m_handle), name) : nullptr;
    if (address == nullptr) {
        SetLastError(kErrorProcNotFound);
    }
    return reinterpret_cast<void*>(address);
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

Library openLibrary(const std::string& name, uint32_t& error) {
    HMODULE handle = loadFromDefaultDirectories(win32::widen(name));
    error = handle != nullptr ? kErrorSuccess : kErrorModNotFound;
    return Library(handle);
}

Library openPlugin(const PluginName& name, uint32_t& error) {
    return openLibrary(name.windowsFile, error);
}

}  // namespace qir::sys
