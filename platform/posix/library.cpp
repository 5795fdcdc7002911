#include "qir_sys/library.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "qir_sys/error.h"

namespace qir::sys {

void LibraryTraits::release(void* handle) {
    dlclose(handle);
}

void* Library::symbol(const char* name) const {
    void* address = m_handle ? dlsym(m_handle.get(), name) : nullptr;
    if (address == nullptr) {
        setLastError(kErrorProcNotFound);
    }
    return address;
}

// The loader's name for the module may be relative to the current directory at load time; its
// origin is the absolute folder it was found in. realpath takes out "..", and links.
std::string Library::path() const {
    link_map* map = nullptr;
    char origin[PATH_MAX + 1] = {};
    if (!m_handle || dlinfo(m_handle.get(), RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
        map->l_name == nullptr || dlinfo(m_handle.get(), RTLD_DI_ORIGIN, origin) != 0) {
        return {};
    }
    const std::string name = map->l_name;
    const size_t slash = name.rfind('/');
    const std::string joined =
        std::string(origin) + "/" + (slash == std::string::npos ? name : name.substr(slash + 1));
    char resolved[PATH_MAX + 1] = {};
    return realpath(joined.c_str(), resolved) != nullptr ? resolved : joined;
}

std::string libraryFileName(const std::string& stem) {
    return "lib" + stem + ".so";
}

Library openLibrary(const std::string& name, uint32_t& error, std::string* reason) {
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    error = handle != nullptr ? kErrorSuccess : kErrorModNotFound;
    if (handle == nullptr && reason != nullptr) {
        const char* words = dlerror();
        *reason = words != nullptr ? words : "the loader gives no reason";
    }
    return Library(handle);
}

namespace {

// Absolute path of the module that holds this function, or empty. The kernel's map of the
// process names it absolutely; the loader's own name for it (dladdr) is the text the module was
// loaded by, which may be relative and would then point into whatever the current directory
// has become.
std::string thisModulePath() {
    const auto address = reinterpret_cast<uintptr_t>(&thisModulePath);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        uintptr_t start = 0;
        uintptr_t end = 0;
        if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR, &start, &end) != 2 ||
            address < start || address >= end) {
            continue;
        }
        const auto slash = line.find('/');
        return slash == std::string::npos ? std::string() : line.substr(slash);
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&thisModulePath), &info) != 0 && info.dli_fname != nullptr &&
        info.dli_fname[0] == '/') {
        return info.dli_fname;
    }
    return {};
}

// Directory (with its final '/') of the module that holds this function, or empty.
std::string thisModuleDirectory() {
    const std::string path = thisModulePath();
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

PluginSource pluginSource(const PluginName& name) {
    const char* override = name.posixEnv != nullptr ? secure_getenv(name.posixEnv) : nullptr;
    if (override != nullptr && *override != '\0') {
        return {override, std::string("from $") + name.posixEnv, true};
    }
    return {name.posixFile, "beside the library that loads it", false};
}

Library openPlugin(const PluginName& name, uint32_t& error) {
    const PluginSource source = pluginSource(name);
    if (source.configured) {
        return openLibrary(source.path, error);
    }
    const std::string directory = thisModuleDirectory();
    if (directory.empty()) {
        error = kErrorModNotFound;
        return Library();
    }
    return openLibrary(directory + source.path, error);
}

}  // namespace qir::sys
