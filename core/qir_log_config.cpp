#include "qir_log_config.h"

#include <cstring>
#include <memory>
#include <new>

#include "qir_byte_form.h"
#include "qir_sys/error.h"
#include "qir_sys/registry.h"

namespace {

constexpr uint32_t kTargetBytes = CQIRLogConfigWindows::kTargetBytes;
constexpr uint32_t kTargetUnits = kTargetBytes / 2;
constexpr uint32_t kMultiStringBytes = CQIRLogConfigWindows::kListBytes;

bool isGone(uint32_t error) {
    return error == qir::sys::kErrorFileNotFound || error == qir::sys::kErrorInvalidHandle;
}

CQIRLogStringWChar text(const char* ascii) {
    return CQIRLogStringWChar(ascii);
}

// A 32-bit number through a cleared 4-byte buffer: 0 when the value is missing, cannot be read,
// or holds data that does not fit in four bytes (whatever the registry left in the buffer).
uint32_t readNumber(const qir::sys::RegistryKey& key, const char* name) {
    unsigned char bytes[4] = {};
    uint32_t size = sizeof bytes;
    if (qir::sys::registryQueryValue(key, text(name).getBuffer(), bytes, size) !=
        qir::sys::kErrorSuccess) {
        return 0;
    }
    return qir::form::get32(bytes);
}

// The UTF-16 units of `bytes` registry bytes (little-endian).
qir_wchar_t unitAt(const unsigned char* bytes, uint32_t index) {
    return static_cast<qir_wchar_t>(qir::form::get16(bytes + 2 * index));
}

// "Target": a string of at most 520 bytes with its terminator. A value that does not fit is
// no target, nor is one of 260 characters without a terminator: cut to 259, it would name
// another file.
CQIRLogStringWChar readTarget(const qir::sys::RegistryKey& key) {
    unsigned char bytes[kTargetBytes];
    uint32_t size = sizeof bytes;
    if (qir::sys::registryQueryValue(key, text("Target").getBuffer(), bytes, size) !=
        qir::sys::kErrorSuccess) {
        return CQIRLogStringWChar();
    }
    qir_wchar_t units[kTargetUnits];
    const uint32_t available = (size < sizeof bytes ? size : sizeof bytes) / 2;
    uint32_t length = 0;
    while (length < available && length < kTargetUnits - 1 &&
           (units[length] = unitAt(bytes, length)) != 0) {
        ++length;
    }
    if (length == kTargetUnits - 1 && available == kTargetUnits && unitAt(bytes, length) != 0) {
        return CQIRLogStringWChar();
    }
    units[length] = 0;
    return CQIRLogStringWChar(units);
}

// A multi-string value: empty when it is missing, larger than the buffer, or there is no memory.
CQIRLogStringWChar readMultiString(const qir::sys::RegistryKey& key, const char* name) {
    std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[kMultiStringBytes]);
    if (!bytes) {
        return CQIRLogStringWChar();
    }
    uint32_t size = kMultiStringBytes;
    if (qir::sys::registryQueryValue(key, text(name).getBuffer(), bytes.get(), size) !=
        qir::sys::kErrorSuccess) {
        return CQIRLogStringWChar();
    }
    return qirJoinMultiString(bytes.get(), size < kMultiStringBytes ? size : kMultiStringBytes);
}

}  // namespace

CQIRLogStringWChar qirJoinMultiString(const unsigned char* pBytes, uint32_t ulSize) {
    const uint32_t units = ulSize / 2;
    // The joined text is never longer than the units read: each terminator becomes a comma.
    std::unique_ptr<qir_wchar_t[]> joined(new (std::nothrow) qir_wchar_t[units + 1]);
    if (!joined) {
        return CQIRLogStringWChar();
    }
    uint32_t length = 0;
    uint32_t start = 0;
    while (start < units) {
        uint32_t end = start;
        while (end < units && unitAt(pBytes, end) != 0) {
            ++end;
        }
        if (end == units || end == start) {
            break;  // unterminated remainder, or the empty string that ends the list
        }
        if (length > 0) {
            joined[length++] = ',';
        }
        for (uint32_t i = start; i < end; ++i) {
            joined[length++] = unitAt(pBytes, i);
        }
        start = end + 1;
    }
    joined[length] = 0;
    return CQIRLogStringWChar(joined.get());
}

CQIRLogConfigEntryList::~CQIRLogConfigEntryList() {
    destroy();
}

void CQIRLogConfigEntryList::destroy() {
    delete[] m_pEntries;
    m_pEntries = nullptr;
    m_ulCount = 0;
}

bool CQIRLogConfigEntryList::resize(uint32_t n) {
    destroy();
    if (n == 0) {
        return false;
    }
    m_pEntries = new (std::nothrow) CQIRLogConfigEntry[n];
    if (m_pEntries == nullptr) {
        return false;
    }
    m_ulCount = n;
    return true;
}

uint32_t CQIRLogConfigWindows::openKey(const qir::sys::RegistryKey& parent,
                                       const CQIRLogStringWChar& strPath,
                                       qir::sys::RegistryKey& key) {
    return parent ? qir::sys::openRegistrySubkey(parent, strPath.getBuffer(), key)
                  : qir::sys::openRegistryKey(strPath.getBuffer(), key);
}

bool CQIRLogConfigWindows::fail(Outcome outcome, uint32_t error) {
    m_outcome = outcome;
    m_ulError = error;
    return false;
}

bool CQIRLogConfigWindows::load() {
    // Nothing of an earlier load of this object survives: entries, outcome, key and error are
    // this load's own.
    m_entries.destroy();
    m_outcome = Outcome::NotLoaded;
    m_strChosenKey = CQIRLogStringWChar();
    m_ulError = 0;
    const CQIRLogStringWChar root = text("Software\\Halvex\\Logs");
    const CQIRLogStringWChar separator = text("\\");
    const CQIRLogStringWChar defaultName = text("Default");
    const CQIRLogStringWChar defaultPath = root + separator + defaultName;
    const CQIRLogStringWChar applicationPath = root + separator + m_strApplication;

    // The logs key is opened once; the program's key, Default and every output below it: so the
    // whole configuration is read from one look at the registry.
    qir::sys::RegistryKey logs;
    uint32_t error = openKey(qir::sys::RegistryKey(), root, logs);
    qir::sys::RegistryKey key;
    const CQIRLogStringWChar* chosen = nullptr;
    if (!isGone(error)) {
        uint32_t gone = qir::sys::kErrorFileNotFound;
        const struct {
            const CQIRLogStringWChar& name;
            const CQIRLogStringWChar& path;
        } candidates[] = {{m_strApplication, applicationPath}, {defaultName, defaultPath}};
        for (const auto& candidate : candidates) {
            if (candidate.name.length() == 0) {
                continue;
            }
            if (error == qir::sys::kErrorSuccess) {
                error = openKey(logs, candidate.name, key);
            }
            if (!isGone(error)) {
                chosen = &candidate.path;
                break;
            }
            gone = error;
            error = qir::sys::kErrorSuccess;
        }
        error = chosen == nullptr ? gone : error;
    }
    if (chosen == nullptr) {
        return fail(Outcome::NoKey, error);
    }
    m_strChosenKey = *chosen;
    if (!key) {
        return fail(Outcome::KeyUnreadable, error);
    }
    uint32_t count = 0;
    error = qir::sys::registrySubkeyCount(key, count);
    if (error != qir::sys::kErrorSuccess) {
        return fail(Outcome::KeyUnreadable, error);
    }
    if (count == 0) {
        return fail(Outcome::NoSubkeys, 0);
    }
    if (!m_entries.resize(count)) {
        return fail(Outcome::NoMemory, qir::sys::kErrorNotEnoughMemory);
    }
    const bool readApplications = *chosen == defaultPath;
    for (uint32_t index = 0; index < count; ++index) {
        qir_wchar_t name[kSubkeyNameUnits];
        if (qir::sys::registrySubkeyName(key, index, name, kSubkeyNameUnits) !=
            qir::sys::kErrorSuccess) {
            continue;
        }
        qir::sys::RegistryKey subkey;
        error = openKey(key, CQIRLogStringWChar(name), subkey);
        if (isGone(error)) {
            break;
        }
        if (error != qir::sys::kErrorSuccess) {
            continue;
        }
        if (readNumber(subkey, "Enabled") == 0) {
            continue;
        }
        CQIRLogConfigEntry& entry = m_entries.getEntries()[index];
        entry.m_bEnabled = true;
        entry.m_ulDetail = readNumber(subkey, "Detail");
        entry.m_bSeparateThreads = readNumber(subkey, "SeparateThreads") != 0;
        entry.m_ulType = readNumber(subkey, "Type");
        entry.m_strTarget = readTarget(subkey);
        entry.m_strAllowObjects = readMultiString(subkey, "AllowObjects");
        entry.m_strExcludeObjects = readMultiString(subkey, "ExcludeObjects");
        if (readApplications) {
            entry.m_strAllowApplications = readMultiString(subkey, "AllowApplications");
            entry.m_strExcludeApplications = readMultiString(subkey, "ExcludeApplications");
        }
    }
    m_outcome = Outcome::Loaded;
    return true;
}
