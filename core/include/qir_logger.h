// The process-wide logger: the host's logging configuration, one output per entry, and the
// filters every record passes on its way to them. It sets itself up on the first report.
#pragma once

#include <atomic>
#include <cstdint>

#include "qir_log_config.h"
#include "qir_log_data.h"
#include "qir_log_output.h"
#include "qir_mutex_lw.h"

class CQIRLogger {
  public:
    // An empty logger; its set-up takes `initLock` and fills `applicationName`.
    CQIRLogger(CQIRMutexLW& initLock, CQIRLogStringWChar& applicationName);
    // Destroys the outputs and the entries.
    ~CQIRLogger();
    CQIRLogger(const CQIRLogger&) = delete;
    CQIRLogger& operator=(const CQIRLogger&) = delete;

    // Whether a report may build a record. The first call sets the logger up from the
    // registry, once, whatever the outcome; after that it is one atomic load.
    bool ensureInitialized();
    // Replaces the entries with copies of `entries` and creates the output of each enabled
    // type-1 entry. An empty list only destroys.
    bool configure(const CQIRLogConfigEntryList& entries);
    // Passes the record through every entry's filters to its output. False when an entry
    // has no output or its output failed; the other entries still get the record.
    bool write(const CQIRLogData& data);

    uint32_t getEntryCount() const { return m_entries.getCount(); }
    // Whether any record can be written at all; false before the set-up and without entries.
    bool hasEntries() const { return m_entries.getCount() != 0; }

  private:
    void destroyOutputs();

    CQIRLogConfigEntryList m_entries;
    CQIRLogOutputInterface** m_ppOutputs = nullptr;
    CQIRMutexLW& m_initLock;
    CQIRLogStringWChar& m_strApplication;
    std::atomic<bool> m_bSetUp{false};
};

// The filter of an entry that keeps the records of an application and an object (class) name
// from its output, the severity aside: a name passes a list when it occurs anywhere in the list's
// comma-joined text, case-sensitively.
enum class QIRLogFilter {
    None,
    AllowApplications,
    ExcludeApplications,
    AllowObjects,
    ExcludeObjects
};
QIRLogFilter qirLogFilterThatDrops(const CQIRLogConfigEntry& entry,
                                   const CQIRLogStringWChar& strApplication,
                                   const CQIRLogStringWChar& strObject);

// The per-thread file name of a target: "dir/name.ext" gives "dir/name_1234.ext"; an empty
// target gives an empty name (no file).
CQIRLogStringWChar qirPerThreadFileName(const CQIRLogStringWChar& strTarget, uint32_t ulThreadId);
// The same with any text in place of the thread id.
CQIRLogStringWChar qirPerThreadFileName(const CQIRLogStringWChar& strTarget,
                                        const CQIRLogStringWChar& strThread);
