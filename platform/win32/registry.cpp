#include "qir_sys/registry.h"

#include "qir_sys/error.h"
#include "qir_sys/fault.h"
#include "qir_win32.h"

namespace qir::sys {

namespace {

HKEY handleOf(const RegistryKey& key) {
    return static_cast<HKEY>(key.handle());
}

}  // namespace

void RegistryKeyTraits::release(void* handle) {
    RegCloseKey(static_cast<HKEY>(handle));
}

// The view a 64-bit process sees by default: no KEY_WOW64_* flag.
uint32_t openRegistryKey(const WideUnit* path, RegistryKey& key) {
    key = RegistryKey();
    uint32_t injected = 0;
    if (fault::injected(fault::Site::RegistryOpen, injected)) {
        return injected;
    }
    HKEY handle = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &handle);
    if (status != ERROR_SUCCESS) {
        return static_cast<uint32_t>(status);
    }
    key = RegistryKey(handle);
    return kErrorSuccess;
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
    HKEY handle = nullptr;
    const LSTATUS status =
        RegOpenKeyExW(handleOf(parent), path != nullptr ? path : L"", 0, KEY_READ, &handle);
    if (status != ERROR_SUCCESS) {
        return static_cast<uint32_t>(status);
    }
    key = RegistryKey(handle);
    return kErrorSuccess;
}

uint32_t registrySubkeyCount(const RegistryKey& key, uint32_t& count) {
    uint32_t injected = 0;
    if (fault::injected(fault::Site::RegistryCount, injected)) {
        return injected;
    }
    if (!key) {
        return kErrorInvalidHandle;
    }
    DWORD subkeys = 0;
    const LSTATUS status =
        RegQueryInfoKeyW(handleOf(key), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        count = subkeys;
    }
    return static_cast<uint32_t>(status);
}

uint32_t registrySubkeyName(const RegistryKey& key, uint32_t index, WideUnit* name,
                            uint32_t capacity) {
    uint32_t injected = 0;
    if (fault::injected(fault::Site::RegistryName, injected)) {
        return injected;
    }
    if (!key) {
        return kErrorInvalidHandle;
    }
    DWORD units = capacity;
    return static_cast<uint32_t>(
        RegEnumKeyExW(handleOf(key), index, name, &units, nullptr, nullptr, nullptr, nullptr));
}

uint32_t registryQueryValue(const RegistryKey& key, const WideUnit* name, void* buffer,
                            uint32_t& size) {
    uint32_t injected = 0;
    if (fault::injected(fault::Site::RegistryQuery, injected)) {
        return injected;
    }
    if (!key) {
        return kErrorInvalidHandle;
    }
    DWORD bytes = size;
    const LSTATUS status =
        RegQueryValueExW(handleOf(key), name, nullptr, nullptr, static_cast<BYTE*>(buffer), &bytes);
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        size = bytes;
    }
    return static_cast<uint32_t>(status);
}

std::string registrySource() {
    return "the Windows registry, HKEY_LOCAL_MACHINE";
}

std::vector<std::string> registryWarnings() {
    return {};
}

uint32_t registryValueType(const RegistryKey& key, const WideUnit* name, uint32_t& type,
                           uint32_t& size) {
    if (!key) {
        return kErrorInvalidHandle;
    }
    DWORD kind = 0;
    DWORD bytes = 0;
    const LSTATUS status = RegQueryValueExW(handleOf(key), name, nullptr, &kind, nullptr, &bytes);
    if (status == ERROR_SUCCESS) {
        type = kind;
        size = bytes;
    }
    return static_cast<uint32_t>(status);
}

}  // namespace qir::sys
