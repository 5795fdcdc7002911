// The library-wide objects that every report uses: the process id, the logger, its set-up lock
// and the application name. They are built, in this order, before any other static object of
// the library or program that holds the core, so that reports from other objects' static
// initialisation find them, and they go after all of those are torn down.
#pragma once

#include <cstdint>

#include "qir_log_string.h"
#include "qir_logger.h"
#include "qir_mutex_lw.h"

struct QIRLibraryObjects {
    QIRLibraryObjects();

    uint32_t processId;  // a fork's child gets its own
    CQIRLogger logger;
    CQIRMutexLW initLock;
    CQIRLogStringWChar applicationName;
};

QIRLibraryObjects& qirLibrary();

// One report in flight: while such scopes are alive, teardown waits a bounded time before it
// frees the library-wide objects, and leaves them to the operating system if a report never
// ends (a thread the system stopped at exit). A scope opened once teardown has begun is not
// `entered`: its report is dropped.
class QIRReportScope {
  public:
    QIRReportScope();
    ~QIRReportScope();
    QIRReportScope(const QIRReportScope&) = delete;
    QIRReportScope& operator=(const QIRReportScope&) = delete;

    bool entered() const { return m_bEntered; }

  private:
    bool m_bEntered;
};
