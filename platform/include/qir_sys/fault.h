// Failures on demand at the file and registry facilities, for tests of what the code above does
// when the system refuses. A test arms "the n-th call at site S on this thread fails with error
// E"; the facility then fails that call the way the system would have: on Windows the Win32
// call is not made and the facility sees a failed call with E as its last-error value (or, for
// the registry, as its status); on POSIX it sees a failed system call with the errno that the
// layer maps to E (E itself for the .reg-file registry, which answers Windows numbers). The
// facility's own clean-up and error mapping run as they would for a real failure. A close that
// fails has still released its descriptor or handle, as close and CloseHandle do; a registry
// call that fails leaves its outputs as they were (so 234 armed at a value query does not tell
// the size needed).
//
// The seam is part of the platform layer in every build: it exports nothing (the library
// exports only its three functions), and while nothing is armed anywhere in the process a
// facility pays one relaxed atomic load for it. Arming is per thread, so that a test's plan is
// never consumed by a thread it did not start; a plan is used on the thread that armed it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace qir::sys::fault {

// The places that can be made to fail, in the order of the facilities' own steps.
enum class Site : uint32_t {
    FileOpen,       // opening an existing file to append to it
    FileUnnamed,    // creating a new file without a name, where the system can (POSIX)
    FileCreate,     // creating a new file under a name (a temporary one, or the file itself)
    FileWrite,      // one write: the byte order mark, or the appended bytes
    FileLink,       // publishing a new file by a hard link
    FileRename,     // publishing a new file by a rename that does not replace
    FileClose,      // closing a file that was opened or created
    RegistryOpen,   // openRegistryKey and openRegistrySubkey
    RegistryCount,  // registrySubkeyCount
    RegistryName,   // registrySubkeyName
    RegistryQuery,  // registryQueryValue
};
constexpr uint32_t kSiteCount = 11;

namespace detail {
// One site's plan on one thread.
struct Plan {
    bool armed = false;
    bool fired = false;
    uint64_t n = 0;
    uint64_t calls = 0;
    uint32_t error = 0;
    uint32_t pauseMs = 0;  // after each call at the site that succeeds
};

// Plans alive in the process, on any thread: while 0, no facility looks further.
inline std::atomic<uint32_t> g_armed{0};

inline Plan& planOf(Site site) {
    static thread_local Plan plans[kSiteCount];
    return plans[static_cast<uint32_t>(site)];
}

// Counts the call and answers whether it is the one to fail.
inline bool fails(Site site, uint32_t& error) {
    Plan& plan = planOf(site);
    if (!plan.armed || plan.pauseMs != 0) {
        return false;
    }
    ++plan.calls;
    if (plan.n != 0 && plan.calls != plan.n) {
        return false;
    }
    plan.fired = true;
    error = plan.error;
    return true;
}
}  // namespace detail

// For the facilities: whether this call at `site` is to fail, and with which Windows error.
inline bool injected(Site site, uint32_t& error) {
    return detail::g_armed.load(std::memory_order_relaxed) != 0 && detail::fails(site, error);
}

// For the facilities: called after a call at `site` succeeded; waits while a test asks for it.
inline void succeeded(Site site) {
    if (detail::g_armed.load(std::memory_order_relaxed) != 0) {
        const uint32_t pauseMs = detail::planOf(site).pauseMs;
        if (pauseMs != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
    }
}

// While alive, the n-th call at `site` on this thread from now fails with the Windows error
// number `error` (n = 1: the next call; n = 0: every call). Plans of different sites may be
// armed together; a second plan for the same site replaces the first until it goes.
class Failing {
  public:
    Failing(Site site, uint64_t n, uint32_t error)
        : m_site(site), m_previous(detail::planOf(site)) {
        detail::Plan& plan = detail::planOf(site);
        plan = detail::Plan{true, false, n, 0, error, 0};
        detail::g_armed.fetch_add(1, std::memory_order_relaxed);
    }
    ~Failing() {
        detail::planOf(m_site) = m_previous;
        detail::g_armed.fetch_sub(1, std::memory_order_relaxed);
    }
    Failing(const Failing&) = delete;
    Failing& operator=(const Failing&) = delete;

    // Whether a call was made to fail.
    bool fired() const { return detail::planOf(m_site).fired; }
    // The calls at the site while armed, the failed ones included.
    uint64_t calls() const { return detail::planOf(m_site).calls; }

  private:
    Site m_site;
    detail::Plan m_previous;  // the plan this one replaced
};

// While alive, every call at `site` on this thread that succeeds is followed by a pause of
// `milliseconds`, so that other threads and processes can run into the moment after it.
class Pausing {
  public:
    Pausing(Site site, uint32_t milliseconds) : m_site(site), m_previous(detail::planOf(site)) {
        detail::planOf(site) = detail::Plan{true, false, 0, 0, 0, milliseconds};
        detail::g_armed.fetch_add(1, std::memory_order_relaxed);
    }
    ~Pausing() {
        detail::planOf(m_site) = m_previous;
        detail::g_armed.fetch_sub(1, std::memory_order_relaxed);
    }
    Pausing(const Pausing&) = delete;
    Pausing& operator=(const Pausing&) = delete;

  private:
    Site m_site;
    detail::Plan m_previous;
};

// The handles (file descriptors on POSIX) that the process holds: a test compares the count
// before and after a failure to show that nothing was left open.
uint64_t openHandleCount();

}  // namespace qir::sys::fault
