// Log outputs: where the logger sends a record that passed an entry's filters. The only kind
// is the text file output, which appends one UTF-16 line per record to a shared log file.
#pragma once

#include <cstdint>

#include "qir_log_data.h"
#include "qir_log_string.h"
#include "qir_sys/file.h"

class CQIRLogOutputInterface {
  public:
    // Deletes the file the target names.
    virtual bool clear(const CQIRLogStringWChar& strTarget) = 0;
    // Appends one record to the file the target names.
    virtual bool write(const CQIRLogData& data, const CQIRLogStringWChar& strTarget) = 0;
    virtual ~CQIRLogOutputInterface() = default;
    // Same output type as the other.
    virtual bool operator==(const CQIRLogOutputInterface& other) const = 0;
    virtual bool operator!=(const CQIRLogOutputInterface& other) const = 0;
};

class CQIRLogOutputBase : public CQIRLogOutputInterface {
  public:
    explicit CQIRLogOutputBase(uint32_t ulType) : m_ulType(ulType) {}
    ~CQIRLogOutputBase() override = default;
    bool operator==(const CQIRLogOutputInterface& other) const override;
    bool operator!=(const CQIRLogOutputInterface& other) const override;

    uint32_t getType() const { return m_ulType; }

  protected:
    uint32_t m_ulType;
};

// Output type 1: UTF-16LE text files that begin with the byte order mark FF FE, one line per
// record, each appended whole at the end of the file even while other threads and processes
// append to it. The file is opened and closed for every record.
class CQIRLogOutputTextWindows : public CQIRLogOutputBase {
  public:
    static constexpr uint32_t kType = 1;

    CQIRLogOutputTextWindows() : CQIRLogOutputBase(kType) {}
    // An output that mostly writes to `strTarget`: its path is made ready here, once, rather
    // than for every record. Other targets are still written.
    explicit CQIRLogOutputTextWindows(const CQIRLogStringWChar& strTarget);
    // True when the file was deleted or did not exist; false for an empty target.
    bool clear(const CQIRLogStringWChar& strTarget) override;
    // False when the line was not appended: no target, the file can be neither opened nor
    // created (a missing folder is never created), or the write failed.
    bool write(const CQIRLogData& data, const CQIRLogStringWChar& strTarget) override;

  private:
    CQIRLogStringWChar m_strTarget;  // the target made ready (empty: none)
    qir::sys::AppendTarget m_target;
};
