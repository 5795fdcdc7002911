// Runs the exports' code in process against a scripted vendor and records each failure report
// in the vendor's record of calls, so that reports and vendor calls show in one order.
#pragma once

#include "backend.h"
#include "fake_vendor.h"

namespace fake {

struct Harness {
    Vendor vendor;
    // Where a report goes before it is recorded (and thrown, when the script says "R!").
    void (*forward)(const velnor::Failure&) = nullptr;

    velnor::Backend backend() { return {this, &createApi, &report}; }
    static int32_t createApi(void* self, ISynAPI** ppApi) {
        return static_cast<Harness*>(self)->vendor.createApi(ppApi);
    }
    static void report(void* self, const velnor::Failure& failure) {
        auto* const harness = static_cast<Harness*>(self);
        harness->forward != nullptr ? harness->forward(failure) : void();
        harness->vendor.enter(kReport);
    }
};

}  // namespace fake
