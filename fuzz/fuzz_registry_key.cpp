// GetTouchpadRegistryKey's copy of the device's key into the caller's buffer, against a
// scripted device whose key bytes, reported size and result code come from the input, as do
// the caller's capacity and failures of the steps before the key is read.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "harness.h"
#include "touchpad.h"

namespace {

constexpr qir_wchar_t kCanary = 0xA5A5;
constexpr int32_t kFailure = static_cast<int32_t>(0x80004005);

struct Case {
    uint8_t step = 0;  // 1 to 7: the step before the key read that fails (below)
    bool objectOnFailure = false;
    int32_t keyCode = 0;
    int32_t keySize = 0;
    int32_t capacity = 0;
    std::string key;
};

void script(fake::Script& s, const Case& c) {
    s.code[fake::kCreateApi] = c.step == 2 ? kFailure : 0;
    s.nullApi = c.step == 3;
    s.code[fake::kFindDevice] = c.step == 4 ? kFailure : 0;
    s.handle = c.step == 5 ? syn::kInvalidHandle : 1;
    s.code[fake::kCreateDevice] = c.step == 6 ? kFailure : 0;
    s.nullDevice = c.step == 7;
    s.objectOnFailure = c.objectOnFailure;
    s.code[fake::kGetKey] = c.keyCode;
    s.keySize = c.keySize;
    s.keyBytes = static_cast<int32_t>(c.key.size());
    std::memcpy(s.key, c.key.data(), c.key.size());
}

// Each object that the call holds is released once, the device before the API object; an
// object handed out with a failure code is not the call's, and nothing else is called.
void checkVendorCalls(const fake::Harness& harness, const Case& c) {
    const bool nullDestination = c.step == 1;
    const bool apiHeld = !nullDestination && c.step != 2 && c.step != 3;
    const bool deviceHeld = apiHeld && c.step != 4 && c.step != 5 && c.step != 6 && c.step != 7;
    int apiReleases = 0;
    int deviceReleases = 0;
    int vendorCalls = 0;
    for (const fake::Call& call : harness.vendor.calls) {
        vendorCalls += call.op == fake::kReport ? 0 : 1;
        if (call.op == fake::kReleaseApi) {
            ++apiReleases;
        } else if (call.op == fake::kReleaseDevice) {
            FUZZ_CHECK(apiReleases == 0);
            ++deviceReleases;
        }
    }
    FUZZ_CHECK(!nullDestination || vendorCalls == 0);
    FUZZ_CHECK(apiReleases == (apiHeld ? 1 : 0));
    FUZZ_CHECK(deviceReleases == (deviceHeld ? 1 : 0));
    FUZZ_CHECK(harness.vendor.unexpectedCalls == 0);
}

void run(const Case& c) {
    fake::Harness harness;
    script(harness.vendor.script, c);

    // Exactly `capacity` units, so that the sanitizer sees any unit written past them.
    const size_t units = c.capacity > 0 ? static_cast<size_t>(c.capacity) : 0;
    std::unique_ptr<qir_wchar_t[]> buffer(new qir_wchar_t[units]);
    for (size_t i = 0; i < units; ++i) {
        buffer[i] = kCanary;
    }
    const int32_t result =
        velnor::getRegistryKey(harness.backend(), c.step == 1 ? nullptr : buffer.get(), c.capacity);
    checkVendorCalls(harness, c);

    // The text the device handed over: the bytes it copied into the key buffer, which the call
    // cleared, up to the first zero byte; a key that fills the buffer has no terminator.
    const size_t copied = c.keyCode != 0 ? 0 : c.key.size();
    const size_t textBytes = strnlen(c.key.c_str(), copied);
    const bool terminated = textBytes < static_cast<size_t>(syn::kKeyBufferSize);
    bool ascii = true;
    for (size_t i = 0; i < textBytes; ++i) {
        ascii = ascii && static_cast<unsigned char>(c.key[i]) < 0x80;
    }
    // The sizes the device reported and the text it wrote must both fit, the text with its
    // terminator. In the "C" locale and in C.UTF-8 a key converts one unit per byte exactly
    // when it is ASCII.
    const bool deviceOpened = c.step < 1 || c.step > 7;
    const bool succeeds = deviceOpened && c.keyCode == 0 && c.keySize > 0 &&
                          c.capacity > c.keySize && terminated && textBytes > 0 &&
                          textBytes < units && ascii;
    FUZZ_CHECK(result == (succeeds ? 1 : 0));
    if (result == 0) {
        for (size_t i = 0; i < units; ++i) {
            FUZZ_CHECK(buffer[i] == kCanary);
        }
        return;
    }
    // Exactly `capacity` units: the text, then zeros up to the capacity.
    for (size_t i = 0; i < textBytes; ++i) {
        FUZZ_CHECK(buffer[i] == static_cast<unsigned char>(c.key[i]));
    }
    for (size_t i = textBytes; i < units; ++i) {
        FUZZ_CHECK(buffer[i] == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Case c;
    // Mostly the key's own paths: each earlier step fails for one value in 32 of the flags.
    const uint8_t flags = input.ConsumeIntegral<uint8_t>();
    c.step = flags & 0x1F;
    c.objectOnFailure = (flags & 0x80) != 0;
    c.keyCode = input.ConsumeBool() ? input.ConsumeIntegral<int32_t>() : 0;
    c.keySize = input.ConsumeIntegral<int32_t>();
    // Any capacity up to 1024 units, negative ones too: every boundary of the size checks
    // against a key of at most 256 bytes, without a buffer larger than that needs.
    const int32_t capacity = input.ConsumeIntegral<int32_t>();
    c.capacity = capacity > 1024 ? capacity % 1025 : capacity;
    c.key = input.ConsumeRandomLengthString(syn::kKeyBufferSize);
    fuzz::inEachLocale([&] { run(c); });
    return 0;
}
