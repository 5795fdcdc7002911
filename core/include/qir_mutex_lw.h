// A lightweight unnamed recursive mutex with a timed lock; each object owns its mutex handle.
#pragma once

#include <cstdint>

#include "qir_sys/mutex.h"

class CQIRMutexLW {
  public:
    // Creates a mutex that nobody holds; when that fails the handle stays null and every
    // operation answers false.
    CQIRMutexLW();
    virtual ~CQIRMutexLW();
    CQIRMutexLW(const CQIRMutexLW&) = delete;
    CQIRMutexLW& operator=(const CQIRMutexLW&) = delete;

    virtual bool isValid() const;
    // Waits up to `ulTimeout` milliseconds (0xFFFFFFFF: without limit); true only when the
    // calling thread then holds the mutex, not on a timeout, a failure or an abandoned mutex.
    virtual bool lock(uint32_t ulTimeout);
    // lock(0), through the virtual table.
    virtual bool tryLock();
    virtual bool unlock();
    // In the child of a fork: unheld again, whichever thread of the parent held it.
    void renewInChild();

  protected:
    qir::sys::MutexHandle m_hMutex;
};
