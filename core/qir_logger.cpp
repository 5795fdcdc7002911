#include "qir_logger.h"

#include <new>

#include "qir_sys/process.h"

namespace {

// A file name has at most 255 units on every file system the library runs on.
constexpr uint32_t kNameUnits = 260;

bool isSeparator(qir_wchar_t c) {
    return c == '\\' || c == '/';
}

// Index just past the last path separator of the text, 0 when it has none.
uint32_t fileNameStart(const CQIRLogStringWChar& path) {
    uint32_t start = 0;
    const uint32_t length = path.length();
    for (uint32_t i = 0; i < length; ++i) {
        if (isSeparator(path.getBuffer()[i])) {
            start = i + 1;
        }
    }
    return start;
}

}  // namespace

CQIRLogStringWChar qirPerThreadFileName(const CQIRLogStringWChar& strTarget, uint32_t ulThreadId) {
    return qirPerThreadFileName(strTarget, CQIRLogStringWChar(ulThreadId, 10));
}

CQIRLogStringWChar qirPerThreadFileName(const CQIRLogStringWChar& strTarget,
                                        const CQIRLogStringWChar& strThread) {
    const uint32_t length = strTarget.length();
    if (length == 0) {
        // No target, no file: a bare "_<id>" would land in the host's current folder.
        return CQIRLogStringWChar();
    }
    const uint32_t nameStart = fileNameStart(strTarget);
    CQIRLogStringWChar directory = strTarget >> (length - nameStart);
    CQIRLogStringWChar name = strTarget << nameStart;
    CQIRLogStringWChar extension;
    const uint32_t nameLength = name.length();
    for (uint32_t i = nameLength; i > 0; --i) {
        if (name.getBuffer()[i - 1] == '.') {
            extension = name << (i - 1);
            name >>= nameLength - (i - 1);
            break;
        }
    }
    return directory + name + CQIRLogStringWChar("_") + strThread + extension;
}

QIRLogFilter qirLogFilterThatDrops(const CQIRLogConfigEntry& entry,
                                   const CQIRLogStringWChar& strApplication,
                                   const CQIRLogStringWChar& strObject) {
    if (entry.m_strAllowApplications.length() != 0 &&
        !entry.m_strAllowApplications.contains(strApplication)) {
        return QIRLogFilter::AllowApplications;
    }
    if (entry.m_strExcludeApplications.contains(strApplication)) {
        return QIRLogFilter::ExcludeApplications;
    }
    if (entry.m_strAllowObjects.length() != 0 && !entry.m_strAllowObjects.contains(strObject)) {
        return QIRLogFilter::AllowObjects;
    }
    return entry.m_strExcludeObjects.contains(strObject) ? QIRLogFilter::ExcludeObjects
                                                         : QIRLogFilter::None;
}

CQIRLogger::CQIRLogger(CQIRMutexLW& initLock, CQIRLogStringWChar& applicationName)
    : m_initLock(initLock), m_strApplication(applicationName) {}

CQIRLogger::~CQIRLogger() {
    configure(CQIRLogConfigEntryList());
    m_entries.destroy();
}

bool CQIRLogger::ensureInitialized() {
    if (m_bSetUp.load(std::memory_order_acquire)) {
        return true;
    }
    // Another thread that holds the lock is setting up, or forking (which holds it a moment
    // without setting up): wait, then set up unless that was done meanwhile.
    if (!m_initLock.tryLock() && !m_initLock.lock(0xFFFFFFFF)) {
        return true;
    }
    if (m_bSetUp.load(std::memory_order_relaxed)) {
        m_initLock.unlock();
        return true;
    }
    qir_wchar_t name[kNameUnits];
    if (qir::sys::executableNameUtf16(name, kNameUnits) != 0) {
        m_strApplication = CQIRLogStringWChar(name);
    }
    bool result = false;
    {
        CQIRLogConfigWindows config(m_strApplication);
        result = config.load() && configure(config.getEntries());
    }
    // Set up once, whatever the outcome; the flag publishes the entries and outputs.
    m_bSetUp.store(true, std::memory_order_release);
    m_initLock.unlock();
    return result;
}

void CQIRLogger::destroyOutputs() {
    if (m_ppOutputs == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < m_entries.getCount(); ++i) {
        delete m_ppOutputs[i];
        m_ppOutputs[i] = nullptr;
    }
    delete[] m_ppOutputs;
    m_ppOutputs = nullptr;
}

bool CQIRLogger::configure(const CQIRLogConfigEntryList& entries) {
    destroyOutputs();
    const uint32_t count = entries.getCount();
    if (m_entries.resize(count) && count != 0 && m_entries.getCount() == count) {
        for (uint32_t i = 0; i < count; ++i) {
            m_entries.getEntries()[i] = entries.getEntries()[i];
        }
    }
    if (count == 0) {
        return true;
    }
    // Every slot null from the start: the array can be torn down at any point of its filling.
    m_ppOutputs = new (std::nothrow) CQIRLogOutputInterface*[count]();
    if (m_ppOutputs == nullptr) {
        return false;
    }
    bool ok = true;
    for (uint32_t i = 0; i < count; ++i) {
        if (i >= m_entries.getCount() || m_entries.getEntries() == nullptr) {
            ok = false;
            continue;
        }
        const CQIRLogConfigEntry& entry = m_entries.getEntries()[i];
        if (entry.m_bEnabled && entry.m_ulType == CQIRLogOutputTextWindows::kType) {
            // An entry with one file for every thread has its path made ready once.
            m_ppOutputs[i] = entry.m_bSeparateThreads
                                 ? new (std::nothrow) CQIRLogOutputTextWindows()
                                 : new (std::nothrow) CQIRLogOutputTextWindows(entry.m_strTarget);
        }
    }
    return ok;
}

bool CQIRLogger::write(const CQIRLogData& data) {
    const uint32_t count = m_entries.getCount();
    if (count == 0) {
        return true;
    }
    if (m_ppOutputs == nullptr) {
        return false;
    }
    bool ok = true;
    for (uint32_t i = 0; i < count; ++i) {
        CQIRLogOutputInterface* output = m_ppOutputs[i];
        const CQIRLogConfigEntry& entry = m_entries.getEntries()[i];
        if (output == nullptr) {
            ok = false;
            continue;
        }
        if ((data.m_ulSeverity & entry.m_ulDetail) != data.m_ulSeverity) {
            continue;
        }
        if (qirLogFilterThatDrops(entry, data.m_strApplication, data.m_strObject) !=
            QIRLogFilter::None) {
            continue;
        }
        if (!(entry.m_bSeparateThreads
                  ? output->write(data, qirPerThreadFileName(entry.m_strTarget, data.m_ulThreadId))
                  : output->write(data, entry.m_strTarget))) {
            ok = false;
        }
    }
    return ok;
}
