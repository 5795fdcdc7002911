#include "qir_sys/fault.h"

#include "qir_win32.h"

namespace qir::sys::fault {

// Windows counts them itself; Wine answers 0 there, so the handle values are probed instead,
// up to a long run of unused ones (handles take the lowest free slot, four values apart).
uint64_t openHandleCount() {
    // The thread's plans live in emulated thread-local storage, whose first use may open a
    // handle or two for good: that happens here, before any count.
    const detail::Plan* volatile touched = &detail::planOf(Site::FileOpen);
    (void)touched;
    DWORD counted = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &counted) && counted != 0) {
        return counted;
    }
    uint64_t count = 0;
    uint32_t unused = 0;
    for (ULONG_PTR value = 4; unused < 256; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            unused = 0;
        } else {
            ++unused;
        }
    }
    return count;
}

}  // namespace qir::sys::fault
