// GetTouchpadRegistryKey's copy of the device's key into the caller's buffer, against a scripted
// device whose key bytes, reported size and result code come from the input, as do the caller's
// capacity and failures of the steps before the key is read.
#include <fuzzer/FuzzedDataProvider.h>

#include "backend.h"
#include "fuzz.h"
#include "harness.h"

void fuzz::testOne(const uint8_t* data, size_t size) {
    // Mostly the key's own paths: a step before the key read fails (1 to 7, the first a null
    // destination) for one value in 32 of the flags; the top flag hands out objects on failure.
    const char* const kSteps[] = {
        "",          "", "C=0x80004005", "nullApi", "F=0x80004005", "handle=-1", "D=0x80004005",
        "nullDevice"};
    FuzzedDataProvider input(data, size);
    const uint8_t flags = input.ConsumeIntegral<uint8_t>();
    const int step = flags & 0x1F;
    fake::Harness harness;
    fake::Script& s = harness.vendor.script =
        fake::parse(std::string(step < 8 ? kSteps[step] : "") + (flags >> 7 ? " obj" : ""));
    const int32_t code = s.code[fake::kGetKey] =
        input.ConsumeBool() ? input.ConsumeIntegral<int32_t>() : 0;
    s.keySize = input.ConsumeIntegral<int32_t>();
    // Any capacity up to 1024 units, negative ones too: every boundary of the size checks
    // against a key of at most 256 bytes, without a buffer larger than that needs.
    const int32_t capacity = input.ConsumeIntegral<int32_t>() % 1025;
    const std::string key = input.ConsumeRandomLengthString(syn::kKeyBufferSize);
    key.copy(reinterpret_cast<char*>(s.key), key.size());
    s.keyBytes = static_cast<int32_t>(key.size());
    // Exactly `capacity` units, so that the sanitizer sees any unit written past them.
    const size_t units = capacity > 0 ? static_cast<size_t>(capacity) : 0;
    const std::unique_ptr<qir_wchar_t[]> buffer(new qir_wchar_t[units]);
    std::fill_n(buffer.get(), units, 0xA5A5);
    const int32_t result =
        velnor::getRegistryKey(harness.backend(), step == 1 ? nullptr : buffer.get(), capacity);

    // Each object the call holds is released once, the device ('d') before the API object ('a');
    // one handed out with a failure code is not the call's; a null destination calls nothing.
    const std::string trace = fake::trace(harness.vendor.calls);
    const bool apiHeld = step == 0 || step >= 4, deviceHeld = step == 0 || step >= 8;
    FUZZ_CHECK(std::count(trace.begin(), trace.end(), 'a') == apiHeld &&
               trace.find('a') >= trace.rfind('d') + 1);
    FUZZ_CHECK(std::count(trace.begin(), trace.end(), 'd') == deviceHeld &&
               harness.vendor.unexpectedCalls == 0);
    FUZZ_CHECK(step != 1 || trace.find_first_not_of("R ") == std::string::npos);
    // The text the device handed over: the bytes it copied into the key buffer, which the call
    // cleared, up to the first zero byte; a key that fills the buffer has no terminator. The
    // sizes reported and written must fit with the terminator. In the "C" locale and in C.UTF-8
    // a key converts one unit per byte exactly when it is ASCII.
    const size_t text = strnlen(key.c_str(), code != 0 ? 0 : key.size());
    const bool ascii =
        std::all_of(key.begin(), key.begin() + text, [](char c) { return uint8_t(c) < 0x80; });
    FUZZ_CHECK(result == (deviceHeld && code == 0 && s.keySize > 0 && capacity > s.keySize &&
                          text > 0 && text < units && text < syn::kKeyBufferSize && ascii));
    // Untouched on failure; else the text, then zeros up to the capacity.
    for (size_t i = 0; i < units; ++i)
        FUZZ_CHECK(buffer[i] == (result == 0 ? 0xA5A5 : i < text ? uint8_t(key[i]) : 0));
}
