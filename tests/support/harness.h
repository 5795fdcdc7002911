// Runs the exports' code in process against a scripted vendor and records each failure report
// in the vendor's record of calls, so that reports and vendor calls show in one order.
#pragma once

#include "fake_vendor.h"
#include "touchpad.h"

namespace fake {

struct Harness {
    Vendor vendor;
    // Where a report goes after it was recorded; then it throws if the script says so.
    void (*forward)(const velnor::Failure&) = nullptr;

    velnor::Backend backend() { return velnor::Backend{this, &createApi, &report}; }

  private:
    static int32_t createApi(void* context, ISynAPI** ppApi) {
        return static_cast<Harness*>(context)->vendor.createApi(ppApi);
    }
    static void report(void* context, const velnor::Failure& failure) {
        auto* self = static_cast<Harness*>(context);
        self->vendor.record(kReport);
        if (self->forward != nullptr) {
            self->forward(failure);
        }
        if (self->vendor.script.reportThrows) {
            throw std::runtime_error("report");
        }
    }
};

}  // namespace fake
