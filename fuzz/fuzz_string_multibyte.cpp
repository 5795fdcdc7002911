// CQIRStringMultiByte's serialised form: any bytes read record after record, and strings of any
// text written and read back.
#include <cstdint>
#include <cstring>
#include <string>

#include "qir_buffer.h"
#include "string_serial_fuzz.h"

namespace {

void writeAnyText(const uint8_t* data, size_t size) {
    // The text rules: up to the first zero element, then one zero; empty without a text.
    const CQIRStringMultiByte s(
        CQIRBuffer<char>(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size)));
    const std::string text(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(fuzz::elementsOf(s) == (text.empty() ? std::string() : text + '\0'));
    fuzz::writeAndReread(s);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::inEachLocale([&] {
        fuzz::readAnyBytes<CQIRStringMultiByte>(data, size);
        writeAnyText(data, size);
    });
    return 0;
}
