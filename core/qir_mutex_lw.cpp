#include "qir_mutex_lw.h"

CQIRMutexLW::CQIRMutexLW() : m_hMutex(qir::sys::createMutex()) {}

CQIRMutexLW::~CQIRMutexLW() {
    if (m_hMutex != nullptr) {
        qir::sys::closeMutex(m_hMutex);
        m_hMutex = nullptr;
    }
}

bool CQIRMutexLW::isValid() const {
    return m_hMutex != nullptr;
}

bool CQIRMutexLW::lock(uint32_t ulTimeout) {
    return m_hMutex != nullptr && qir::sys::lockMutex(m_hMutex, ulTimeout);
}

bool CQIRMutexLW::tryLock() {
    return lock(0);
}

bool CQIRMutexLW::unlock() {
    return m_hMutex != nullptr && qir::sys::unlockMutex(m_hMutex);
}

void CQIRMutexLW::renewInChild() {
    qir::sys::renewMutexInChild(m_hMutex);
}
