#include "qir_library.h"

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "qir_sys/abi.h"
#include "qir_sys/clock.h"
#include "qir_sys/process.h"
#include "qir_types.h"

#if defined(_MSC_VER)
#pragma init_seg(lib)
#endif

QIRLibraryObjects::QIRLibraryObjects()
    : processId(qir::sys::processId()), logger(initLock, applicationName) {}

namespace {

// How long teardown waits for the reports in flight.
constexpr auto kTeardownWait = std::chrono::milliseconds(200);

// The reports in flight, and whether teardown has begun. A report counts itself, then looks at
// the flag; teardown raises the flag, then looks at the count: with sequentially consistent
// order, one of the two always sees the other.
std::atomic<uint32_t> g_reportsInFlight{0};
std::atomic<bool> g_closing{false};

// The objects live in storage of their own so that teardown can choose to leave them alone.
alignas(QIRLibraryObjects) unsigned char g_storage[sizeof(QIRLibraryObjects)];

QIRLibraryObjects& objects() {
    return *std::launder(reinterpret_cast<QIRLibraryObjects*>(g_storage));
}

// What the forking thread holds across its fork: the set-up lock, taken after any set-up in
// progress has ended, and the lock of the local time, taken in the order a report takes them;
// the fork counts as a report in flight, so that teardown does not free what it holds.
thread_local QIR_TLS_NODEBUG bool t_forkHeld = false;
thread_local QIR_TLS_NODEBUG bool t_forkHeldSetUp = false;

void holdForFork() {
    g_reportsInFlight.fetch_add(1);
    t_forkHeld = !g_closing.load();
    if (!t_forkHeld) {
        g_reportsInFlight.fetch_sub(1);
        return;
    }
    t_forkHeldSetUp = objects().initLock.lock(0xFFFFFFFF);
    qir::sys::holdLocalTime();
}

void resumeInParent() {
    if (t_forkHeld) {
        qir::sys::releaseLocalTime(false);
        if (t_forkHeldSetUp) {
            objects().initLock.unlock();
        }
        g_reportsInFlight.fetch_sub(1);
    }
}

// The child has the forking thread alone: the reports that other threads of the parent had in
// flight never end here, the locks are free again (the set-up lock made anew: the child's thread
// has another id than its holder had), and the child is a process of its own. No set-up was in
// progress at the fork, so the logger is whole, set up or not.
void renewInChild() {
    if (t_forkHeld) {
        QIRLibraryObjects& library = objects();
        g_reportsInFlight.store(0);
        library.processId = qir::sys::processId();
        qir::sys::releaseLocalTime(true);
        library.initLock.renewInChild();
    }
}

struct Lifetime {
    Lifetime() {
        new (g_storage) QIRLibraryObjects();
        qir::sys::atFork(&holdForFork, &resumeInParent, &renewInChild);
    }
    ~Lifetime() {
        g_closing.store(true);
        const auto deadline = std::chrono::steady_clock::now() + kTeardownWait;
        while (g_reportsInFlight.load() != 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return;  // a report that never ends keeps what it uses
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        objects().~QIRLibraryObjects();
    }
};

// Built at load, before any other static object of this image and before any export can be
// called; torn down at unload, after all of them.
QIR_SYS_INIT_FIRST Lifetime g_lifetime;

}  // namespace

QIRLibraryObjects& qirLibrary() {
    return objects();
}

QIRReportScope::QIRReportScope() : m_bEntered(true) {
    g_reportsInFlight.fetch_add(1);
    if (g_closing.load()) {
        g_reportsInFlight.fetch_sub(1);
        m_bEntered = false;
    }
}

QIRReportScope::~QIRReportScope() {
    if (m_bEntered) {
        g_reportsInFlight.fetch_sub(1);
    }
}
