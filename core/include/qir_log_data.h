// One log record: the message with everything a log line shows about where, when, in which
// process and thread it was reported. The record owns its texts and its data block.
#pragma once

#include <cstdint>

#include "qir_log_string.h"

// Severities: one bit each, so that a configuration selects any set of them with a mask.
enum : uint32_t {
    QIR_LOG_CRITICAL = 1,
    QIR_LOG_EXCEPTION = 2,
    QIR_LOG_ERROR = 4,
    QIR_LOG_WARNING = 8,
    QIR_LOG_DEBUG = 16,
    QIR_LOG_INFORMATION = 32,
    QIR_LOG_SUCCESS = 64,
    QIR_LOG_FAILURE = 128,
    QIR_LOG_UNIT_TEST_FAILURE = 256,
    QIR_LOG_AUDIT_SUCCESS = 512,
    QIR_LOG_AUDIT_FAILURE = 1024,
};

// The name a log line shows for a severity: "ERROR", ...; "UNSPECIFIED" for any value that is
// not exactly one of the bits above.
const qir_wchar_t* qirSeverityName(uint32_t ulSeverity);

// The local time as a record shows it, 'Fri Dec 04 09:41:24 2026', or "00:00:00" when the C
// runtime cannot tell the time.
CQIRLogStringWChar qirLogTimeText();

class CQIRLogData {
  public:
    // Copies the texts and the data block; splits the function text at "::" into the class
    // part (m_strObject) and the function part (m_strFunction).
    CQIRLogData(uint32_t ulSeverity, const CQIRLogStringWChar& strMessage, uint32_t ulReturnCode,
                const CQIRLogStringWChar& strTask, const unsigned char* pData, uint32_t ulDataSize,
                uint32_t ulThreadId, uint32_t ulProcessId, const CQIRLogStringWChar& strApplication,
                const CQIRLogStringWChar& strTime, const CQIRLogStringWChar& strFunction,
                const CQIRLogStringWChar& strFile, uint32_t ulLine);
    CQIRLogData(const CQIRLogData& other);
    virtual ~CQIRLogData();

    // Reads a record from the front of `pData`. Below 70 bytes: an empty input on a record
    // without data resets it (consumed 0, true); anything else fails with the record unchanged.
    // A record that does not add up fails and leaves this record reset.
    virtual bool deserialize(const unsigned char* pData, uint32_t ulLength, uint32_t& ulConsumed);
    // Writes exactly serializedSize() bytes; false, writing nothing, when they do not fit.
    virtual bool serialize(unsigned char* pOut, uint32_t ulCapacity) const;
    // 28 + the data size + the raw forms of the seven texts in their 8-bit form (length + 6).
    virtual uint32_t serializedSize() const;

    CQIRLogData& operator=(const CQIRLogData& other);
    // Replaces the data block with a copy of `pData`; size 0 leaves none. False for null data
    // of a non-zero size or when the memory cannot be had (the record then has none).
    bool setData(const unsigned char* pData, uint32_t ulSize);

    const unsigned char* getData() const { return m_pData; }
    uint32_t getDataSize() const { return m_ulDataSize; }

    uint32_t m_ulSeverity;
    CQIRLogStringWChar m_strMessage;
    CQIRLogStringWChar m_strTask;
    CQIRLogStringWChar m_strObject;
    CQIRLogStringWChar m_strFunction;
    CQIRLogStringWChar m_strFile;
    uint32_t m_ulLine;
    CQIRLogStringWChar m_strApplication;
    CQIRLogStringWChar m_strTime;
    uint32_t m_ulProcessId;
    uint32_t m_ulThreadId;
    uint32_t m_ulReturnCode;

  private:
    void reset();
    void freeData();
    // Writes the numbers and the data around the texts of a form of `total` bytes; true.
    bool putFixed(unsigned char* pOut, uint64_t total) const;

    unsigned char* m_pData = nullptr;
    uint32_t m_ulDataSize = 0;
};
