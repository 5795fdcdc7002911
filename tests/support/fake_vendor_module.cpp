// The scripted vendor as a vendor library of its own: SynCreateAPI, and a C interface through
// which a test sets the script and reads the record of calls.
#include "fake_vendor_module.h"

namespace {

fake::Vendor g_vendor;
std::string g_trace;

}  // namespace

extern "C" {

QIR_SYS_EXPORT int32_t SynCreateAPI(ISynAPI** ppApi) {
    return g_vendor.createApi(ppApi);
}

QIR_SYS_EXPORT void FakeVendorReset(const fake::Script* script) {
    g_vendor.script = *script;
    g_vendor.calls.clear();
}

// The record as fake::trace spells it, the unexpected calls included.
QIR_SYS_EXPORT const char* FakeVendorTrace() {
    g_trace = fake::trace(g_vendor.calls);
    return g_trace.c_str();
}

}  // extern "C"
