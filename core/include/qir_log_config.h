// The logging configuration: one entry per output that the machine-wide registry defines
// under Software\Halvex\Logs, for one application or for all (Default).
#pragma once

#include <cstdint>

#include "qir_log_string.h"
#include "qir_sys/registry.h"

// A multi-string value's data (REG_MULTI_SZ, UTF-16LE) as a filter list: the terminated
// strings within the first `ulSize` bytes, up to the first empty one, joined with ","; an
// unterminated remainder is left out. Empty when there is no memory.
CQIRLogStringWChar qirJoinMultiString(const unsigned char* pBytes, uint32_t ulSize);

// One output definition. The filter texts are comma-joined lists of names.
struct CQIRLogConfigEntry {
    bool m_bEnabled = false;
    uint32_t m_ulDetail = 0;  // the severities the entry accepts, as a mask
    uint32_t m_ulType = 0;    // 1: text file; no other type has an output
    CQIRLogStringWChar m_strTarget;
    bool m_bSeparateThreads = false;  // one file per thread
    CQIRLogStringWChar m_strAllowObjects;
    CQIRLogStringWChar m_strExcludeObjects;
    CQIRLogStringWChar m_strAllowApplications;
    CQIRLogStringWChar m_strExcludeApplications;
};

// An owned array of entries.
class CQIRLogConfigEntryList {
  public:
    CQIRLogConfigEntryList() = default;
    ~CQIRLogConfigEntryList();
    CQIRLogConfigEntryList(const CQIRLogConfigEntryList&) = delete;
    CQIRLogConfigEntryList& operator=(const CQIRLogConfigEntryList&) = delete;

    // Replaces every entry with n default ones. False, with the list empty, for n = 0 or when
    // the memory cannot be had.
    bool resize(uint32_t n);
    void destroy();

    uint32_t getCount() const { return m_ulCount; }
    const CQIRLogConfigEntry* getEntries() const { return m_pEntries; }
    CQIRLogConfigEntry* getEntries() { return m_pEntries; }

  private:
    CQIRLogConfigEntry* m_pEntries = nullptr;
    uint32_t m_ulCount = 0;
};

class CQIRLogConfigBase {
  public:
    explicit CQIRLogConfigBase(const CQIRLogStringWChar& strApplication)
        : m_strApplication(strApplication) {}
    virtual ~CQIRLogConfigBase() = default;
    // Reads the configuration into the entry list.
    virtual bool load() = 0;

    const CQIRLogConfigEntryList& getEntries() const { return m_entries; }

  protected:
    CQIRLogConfigEntryList m_entries;
    CQIRLogStringWChar m_strApplication;  // the executable's file name
};

// The configuration in the registry: Software\Halvex\Logs\<application> when that key
// exists, else Software\Halvex\Logs\Default; one entry per subkey, in enumeration order.
class CQIRLogConfigWindows : public CQIRLogConfigBase {
  public:
    explicit CQIRLogConfigWindows(const CQIRLogStringWChar& strApplication)
        : CQIRLogConfigBase(strApplication) {}
    // False when no key can be chosen and opened, its subkeys cannot be counted, it has none,
    // or there is no memory for the entries. Problems inside one subkey leave its entry
    // disabled; a subkey that is gone when it is opened ends the list there, successfully.
    bool load() override;

    // What a load reads: subkey names of at most this many units with the terminator, and a
    // Target of at most this many bytes with its terminator (a longer value is no target, nor
    // is one that fills them without a terminator).
    static constexpr uint32_t kSubkeyNameUnits = 261;
    static constexpr uint32_t kTargetBytes = 520;
    // A filter list (multi-string) of at most this many bytes; a longer one reads as empty.
    static constexpr uint32_t kListBytes = 32767;

    // What the last load found.
    enum class Outcome { NotLoaded, Loaded, NoKey, KeyUnreadable, NoSubkeys, NoMemory };
    Outcome getOutcome() const { return m_outcome; }
    // The key that was chosen (empty when none was), and the error number of a key that could
    // not be read.
    const CQIRLogStringWChar& getChosenKey() const { return m_strChosenKey; }
    uint32_t getError() const { return m_ulError; }

  protected:
    // Opens a key of the configuration for reading, below `parent` (an empty parent: below
    // HKEY_LOCAL_MACHINE): 0, or a Windows error number.
    virtual uint32_t openKey(const qir::sys::RegistryKey& parent, const CQIRLogStringWChar& strPath,
                             qir::sys::RegistryKey& key);

  private:
    bool fail(Outcome outcome, uint32_t error);

    Outcome m_outcome = Outcome::NotLoaded;
    CQIRLogStringWChar m_strChosenKey;
    uint32_t m_ulError = 0;
};
