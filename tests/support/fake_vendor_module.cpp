// The scripted vendor as a vendor library of its own: SynCreateAPI plus a small C interface
// through which a test sets the script and reads the record of calls.
#include "fake_vendor_module.h"

namespace {

fake::Vendor g_vendor;

}  // namespace

extern "C" {

QIR_SYS_EXPORT int32_t SynCreateAPI(ISynAPI** ppApi) {
    return g_vendor.createApi(ppApi);
}

QIR_SYS_EXPORT void FakeVendorReset(const fake::Script* script) {
    g_vendor.script = *script;
    g_vendor.calls.clear();
    g_vendor.stateWritten = -1;
    g_vendor.unexpectedCalls = 0;
}

QIR_SYS_EXPORT int32_t FakeVendorCallCount() {
    return static_cast<int32_t>(g_vendor.calls.size());
}

QIR_SYS_EXPORT void FakeVendorCallAt(int32_t index, fake::Call* call) {
    *call = g_vendor.calls.at(static_cast<size_t>(index));
}

QIR_SYS_EXPORT int32_t FakeVendorUnexpectedCalls() {
    return g_vendor.unexpectedCalls;
}

}  // extern "C"
