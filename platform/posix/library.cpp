#include "qir_sys/library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <utility>

#include "qir_sys/error.h"

namespace qir::sys {

Library::~Library() {
    if (m_handle != nullptr) {
        dlclose(m_handle);
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
    void* address = m_handle != nullptr ? dlsym(m_handle, name) : nullptr;
    if (address == nullptr) {
        setLastError(kErrorProcNotFound);
    }
    return address;
}

std::string libraryFileName(const std::string& stem) {
    return "lib" + stem + ".so";
}

Library openLibrary(const std::string& name, uint32_t& error) {
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    error = handle != nullptr ? kErrorSuccess : kErrorModNotFound;
    return Library(handle);
}

namespace {

// Directory (with its final '/') of the module that holds this function, or empty.
std::string thisModuleDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&thisModuleDirectory), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    std::string path(info.dli_fname);
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

Library openPlugin(const PluginName& name, uint32_t& error) {
    const char* override = name.posixEnv != nullptr ? secure_getenv(name.posixEnv) : nullptr;
    if (override != nullptr && *override != '\0') {
        return openLibrary(override, error);
    }
    const std::string directory = thisModuleDirectory();
    if (directory.empty()) {
        error = kErrorModNotFound;
        return Library();
    }
    return openLibrary(directory + name.posixFile, error);
}

}  // namespace qir::sys
