#include "qir_log.h"

#include "qir_library.h"
#include "qir_log_data.h"
#include "qir_sys/process.h"

bool CQIRLog::log(uint32_t ulSeverity, const CQIRLogStringWChar& strMessage,
                  const CQIRLogStringWChar& strTask, const CQIRLogStringWChar& strFunction,
                  const CQIRLogStringWChar& strFile, uint32_t ulLine, uint32_t ulReturnCode,
                  const unsigned char* pData, uint32_t ulDataSize) {
    const QIRReportScope scope;
    if (!scope.entered()) {
        return false;
    }
    QIRLibraryObjects& library = qirLibrary();
    if (!library.logger.ensureInitialized()) {
        return false;
    }
    if (!library.logger.hasEntries()) {
        // A logger without entries accepts every record unwritten: spare building one.
        return true;
    }
    const CQIRLogData record(ulSeverity, strMessage, ulReturnCode, strTask, pData, ulDataSize,
                             qir::sys::threadId(), library.processId, library.applicationName,
                             qirLogTimeText(), strFunction, strFile, ulLine);
    return library.logger.write(record);
}

bool CQIRLogError::log(const CQIRLogStringWChar& strMessage, const CQIRLogStringWChar& strTask,
                       const CQIRLogStringWChar& strFunction, const CQIRLogStringWChar& strFile,
                       uint32_t ulLine, uint32_t ulReturnCode, const unsigned char* pData,
                       uint32_t ulDataSize) {
    return CQIRLog::log(QIR_LOG_ERROR, strMessage, strTask, strFunction, strFile, ulLine,
                        ulReturnCode, pData, ulDataSize);
}

bool CQIRLogException::log(const CQIRLogStringWChar& strMessage, const CQIRLogStringWChar& strTask,
                           const CQIRLogStringWChar& strFunction, const CQIRLogStringWChar& strFile,
                           uint32_t ulLine, uint32_t ulReturnCode, const unsigned char* pData,
                           uint32_t ulDataSize) {
    return CQIRLog::log(QIR_LOG_EXCEPTION, strMessage, strTask, strFunction, strFile, ulLine,
                        ulReturnCode, pData, ulDataSize);
}

bool CQIRLogWarning::log(const CQIRLogStringWChar& strMessage, const CQIRLogStringWChar& strTask,
                         const CQIRLogStringWChar& strFunction, const CQIRLogStringWChar& strFile,
                         uint32_t ulLine, uint32_t ulReturnCode, const unsigned char* pData,
                         uint32_t ulDataSize) {
    return CQIRLog::log(QIR_LOG_WARNING, strMessage, strTask, strFunction, strFile, ulLine,
                        ulReturnCode, pData, ulDataSize);
}

bool CQIRLogExceptionMemoryAlloc::log(const CQIRLogStringWChar& strObject, uint32_t ulSize,
                                      const CQIRLogStringWChar& strTask,
                                      const CQIRLogStringWChar& strFunction,
                                      const CQIRLogStringWChar& strFile, uint32_t ulLine,
                                      uint32_t ulReturnCode, const unsigned char* pData,
                                      uint32_t ulDataSize) {
    const CQIRLogStringWChar message = CQIRLogStringWChar("Unable to allocate memory ( ") +
                                       strObject + CQIRLogStringWChar(" ) of size ( ") +
                                       CQIRLogStringWChar(ulSize, 10) + CQIRLogStringWChar(" )");
    return CQIRLogException::log(message, strTask, strFunction, strFile, ulLine, ulReturnCode,
                                 pData, ulDataSize);
}

bool CQIRLogExceptionMemoryCopy::log(const CQIRLogStringWChar& strTask,
                                     const CQIRLogStringWChar& strFunction,
                                     const CQIRLogStringWChar& strFile, uint32_t ulLine,
                                     uint32_t ulReturnCode, const unsigned char* pData,
                                     uint32_t ulDataSize) {
    return CQIRLogException::log(CQIRLogStringWChar("memcpy( ) function failed."), strTask,
                                 strFunction, strFile, ulLine, ulReturnCode, pData, ulDataSize);
}

bool CQIRLogWarningMemoryDestroy::log(const CQIRLogStringWChar& strObject,
                                      const CQIRLogStringWChar& strTask,
                                      const CQIRLogStringWChar& strFunction,
                                      const CQIRLogStringWChar& strFile, uint32_t ulLine,
                                      uint32_t ulReturnCode, const unsigned char* pData,
                                      uint32_t ulDataSize) {
    const CQIRLogStringWChar message =
        CQIRLogStringWChar("Unable to free memory ( ") + strObject + CQIRLogStringWChar(" ) ");
    return CQIRLogWarning::log(message, strTask, strFunction, strFile, ulLine, ulReturnCode, pData,
                               ulDataSize);
}

bool CQIRLogExceptionBadArg::log(const CQIRLogStringWChar& strArgument,
                                 const CQIRLogStringWChar& strDetail,
                                 const CQIRLogStringWChar& strTask,
                                 const CQIRLogStringWChar& strFunction,
                                 const CQIRLogStringWChar& strFile, uint32_t ulLine,
                                 uint32_t ulReturnCode, const unsigned char* pData,
                                 uint32_t ulDataSize) {
    const CQIRLogStringWChar message = CQIRLogStringWChar("A bad argument was provided ( ") +
                                       strArgument + CQIRLogStringWChar(" ). ") + strDetail;
    return CQIRLogException::log(message, strTask, strFunction, strFile, ulLine, ulReturnCode,
                                 pData, ulDataSize);
}
