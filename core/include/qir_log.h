// Report classes: what a failure site builds on its stack to report a failure. Each kind
// composes its message and stamps its severity; CQIRLog::log turns the pieces into a record
// and hands it to the process-wide logger. Nothing is thrown, whatever the class names say.
#pragma once

#include <cstdint>

#include "qir_log_string.h"

class CQIRLog {
  public:
    virtual ~CQIRLog() = default;
    // False when the logger is not ready (no record is built), else the logger's result.
    virtual bool log(uint32_t ulSeverity, const CQIRLogStringWChar& strMessage,
                     const CQIRLogStringWChar& strTask, const CQIRLogStringWChar& strFunction,
                     const CQIRLogStringWChar& strFile, uint32_t ulLine, uint32_t ulReturnCode,
                     const unsigned char* pData, uint32_t ulDataSize);
};

// Severity 4.
class CQIRLogError : public CQIRLog {
  public:
    using CQIRLog::log;
    bool log(const CQIRLogStringWChar& strMessage, const CQIRLogStringWChar& strTask,
             const CQIRLogStringWChar& strFunction, const CQIRLogStringWChar& strFile,
             uint32_t ulLine, uint32_t ulReturnCode, const unsigned char* pData,
             uint32_t ulDataSize);
};

// Severity 2.
class CQIRLogException : public CQIRLog {
  public:
    using CQIRLog::log;
    bool log(const CQIRLogStringWChar& strMessage, const CQIRLogStringWChar& strTask,
             const CQIRLogStringWChar& strFunction, const CQIRLogStringWChar& strFile,
             uint32_t ulLine, uint32_t ulReturnCode, const unsigned char* pData,
             uint32_t ulDataSize);
};

// Severity 8.
class CQIRLogWarning : public CQIRLog {
  public:
    using CQIRLog::log;
    bool log(const CQIRLogStringWChar& strMessage, const CQIRLogStringWChar& strTask,
             const CQIRLogStringWChar& strFunction, const CQIRLogStringWChar& strFile,
             uint32_t ulLine, uint32_t ulReturnCode, const unsigned char* pData,
             uint32_t ulDataSize);
};

// "Unable to allocate memory ( <object> ) of size ( <size> )", severity 2.
class CQIRLogExceptionMemoryAlloc : public CQIRLogException {
  public:
    using CQIRLogException::log;
    bool log(const CQIRLogStringWChar& strObject, uint32_t ulSize,
             const CQIRLogStringWChar& strTask, const CQIRLogStringWChar& strFunction,
             const CQIRLogStringWChar& strFile, uint32_t ulLine, uint32_t ulReturnCode,
             const unsigned char* pData, uint32_t ulDataSize);
};

// "memcpy( ) function failed.", severity 2.
class CQIRLogExceptionMemoryCopy : public CQIRLogException {
  public:
    using CQIRLogException::log;
    bool log(const CQIRLogStringWChar& strTask, const CQIRLogStringWChar& strFunction,
             const CQIRLogStringWChar& strFile, uint32_t ulLine, uint32_t ulReturnCode,
             const unsigned char* pData, uint32_t ulDataSize);
};

// "Unable to free memory ( <object> ) ", severity 8.
class CQIRLogWarningMemoryDestroy : public CQIRLogWarning {
  public:
    using CQIRLogWarning::log;
    bool log(const CQIRLogStringWChar& strObject, const CQIRLogStringWChar& strTask,
             const CQIRLogStringWChar& strFunction, const CQIRLogStringWChar& strFile,
             uint32_t ulLine, uint32_t ulReturnCode, const unsigned char* pData,
             uint32_t ulDataSize);
};

// "A bad argument was provided ( <argument> ). <detail>", severity 2.
class CQIRLogExceptionBadArg : public CQIRLogException {
  public:
    using CQIRLogException::log;
    bool log(const CQIRLogStringWChar& strArgument, const CQIRLogStringWChar& strDetail,
             const CQIRLogStringWChar& strTask, const CQIRLogStringWChar& strFunction,
             const CQIRLogStringWChar& strFile, uint32_t ulLine, uint32_t ulReturnCode,
             const unsigned char* pData, uint32_t ulDataSize);
};
