// CQIRStringWChar's serialised form: any bytes read record after record, and strings of any text
// written and read back.
#include <cstdint>

#include "qir_buffer.h"
#include "string_serial_fuzz.h"

namespace {

void writeAnyText(const uint8_t* data, size_t size) {
    fuzz::Units units;
    for (size_t i = 0; i + 1 < size; i += 2) {
        units.push_back(static_cast<qir_wchar_t>(data[i] | data[i + 1] << 8));
    }
    // The text rules: up to the first zero element, then one zero; empty without a text.
    const CQIRStringWChar s(
        CQIRBuffer<qir_wchar_t>(units.data(), static_cast<uint32_t>(units.size())));
    const fuzz::Units text(units.c_str());
    FUZZ_CHECK(fuzz::elementsOf(s) == (text.empty() ? fuzz::Units() : text + qir_wchar_t{0}));
    fuzz::writeAndReread(s);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::inEachLocale([&] {
        fuzz::readAnyBytes<CQIRStringWChar>(data, size);
        writeAnyText(data, size);
    });
    return 0;
}
