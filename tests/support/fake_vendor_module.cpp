// The scripted vendor as a vendor library of its own: SynCreateAPI, and a C interface through
// which a test sets the script and reads the record of calls as fake::trace spells it.
#include "fake_vendor_module.h"

namespace {

fake::Vendor g_vendor;
std::string g_trace;

}  // namespace

extern "C" QIR_SYS_EXPORT int32_t SynCreateAPI(ISynAPI** ppApi) {
    return g_vendor.createApi(ppApi);
}

extern "C" QIR_SYS_EXPORT void FakeVendorReset(const fake::Script* script) {
    g_vendor.script = *script;
    g_vendor.calls.clear();
}

extern "C" QIR_SYS_EXPORT const char* FakeVendorTrace() {
    return (g_trace = fake::trace(g_vendor.calls)).c_str();
}
