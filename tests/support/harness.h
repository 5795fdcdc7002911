// Runs the exports' code in process against a scripted vendor and records its failure
// reports in the vendor's call record, so that tests see reports and vendor calls in order.
#pragma once

#include <vector>

#include "fake_vendor.h"
#include "touchpad.h"

namespace fake {

struct Harness {
    Vendor vendor;
    std::vector<velnor::Failure> failures;

    velnor::Backend backend() { return velnor::Backend{this, &createApi, &report}; }

  private:
    static int32_t createApi(void* context, ISynAPI** ppApi) {
        return static_cast<Harness*>(context)->vendor.createApi(ppApi);
    }
    static void report(void* context, const velnor::Failure& failure) {
        auto* self = static_cast<Harness*>(context);
        self->failures.push_back(failure);
        self->vendor.record(kReport, static_cast<int64_t>(failure.point), failure.first,
                            failure.second);
    }
};

// Expected calls, spelt as the exports make them.
inline Call createApi() {
    return {kCreateApi};
}
inline Call findDevice() {
    return {kFindDevice, syn::kFindConnection, syn::kFindType, -1};
}
inline Call createDevice(int32_t handle = 1) {
    return {kCreateDevice, handle};
}
inline Call getGesture() {
    return {kGetGesture, syn::kPropertyHasTwoFingerDoubleTap, 0};
}
inline Call getState() {
    return {kGetState, syn::kPropertyTwoFingerDoubleTapState, 0};
}
inline Call setState(int32_t v) {
    return {kSetState, syn::kPropertyTwoFingerDoubleTapState, v};
}
inline Call persist() {
    return {kPersist, 0};
}
inline Call getKey() {
    return {kGetKey, syn::kPropertyRegistryKey, syn::kKeyBufferSize, 1};
}
inline Call releaseDevice() {
    return {kReleaseDevice};
}
inline Call releaseApi() {
    return {kReleaseApi};
}
inline Call report(velnor::FailurePoint point, uint32_t first = 0, uint32_t second = 0) {
    return {kReport, static_cast<int64_t>(point), first, second};
}

}  // namespace fake
