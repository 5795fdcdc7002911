// The C interface of the scripted vendor library (fake_vendor_module.cpp).
#pragma once

#include "fake_vendor.h"

extern "C" {
using FakeVendorResetFn = void (*)(const fake::Script*);
using FakeVendorTraceFn = const char* (*)();
}
