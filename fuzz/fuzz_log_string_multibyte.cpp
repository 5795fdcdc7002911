// CQIRLogStringMultiByte's raw form: reading any bytes, and writing back what it read.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "qir_log_string.h"

namespace {

// The text up to the first terminator; the storage may hold more.
bool sameText(const CQIRLogStringMultiByte& s, const std::string& text) {
    return s.length() == text.size() &&
           (text.empty() || std::memcmp(s.getBuffer(), text.data(), text.size()) == 0);
}

// Writes `s` into storage of exactly serializedSize() bytes (so that the sanitizer sees any
// byte written past it), checks what cannot differ and reads it back.
std::string writeAndReread(const CQIRLogStringMultiByte& s) {
    const uint32_t size = s.serializedSize();
    FUZZ_CHECK(size == s.length() + 6);
    std::unique_ptr<unsigned char[]> form(new unsigned char[size]);

    // One byte short: refused, nothing written.
    std::memset(form.get(), 0xA5, size);
    FUZZ_CHECK(!s.serialize(form.get(), size - 1));
    for (uint32_t i = 0; i < size; ++i) {
        FUZZ_CHECK(form[i] == 0xA5);
    }
    FUZZ_CHECK(!s.serialize(nullptr, size));

    FUZZ_CHECK(s.serialize(form.get(), size));
    FUZZ_CHECK(form[0] == 1);
    FUZZ_CHECK(fuzz::le32(form.get() + 1) == s.length() + 1);
    FUZZ_CHECK(form[size - 1] == 0);
    FUZZ_CHECK(s.length() == 0 || std::memcmp(form.get() + 5, s.getBuffer(), s.length()) == 0);

    CQIRLogStringMultiByte again;
    uint32_t consumed = 0;
    FUZZ_CHECK(again.deserialize(form.get(), size, consumed));
    FUZZ_CHECK(consumed == size);
    // The storage read back is the text and its terminator only: a record whose text ends
    // before its declared length keeps the bytes after the terminator in its storage, and its
    // form is written without them. The texts agree; the storages need not.
    FUZZ_CHECK(again.length() == s.length());
    FUZZ_CHECK(s.length() == 0 || std::memcmp(again.getBuffer(), s.getBuffer(), s.length()) == 0);

    std::unique_ptr<unsigned char[]> second(new unsigned char[size]);
    FUZZ_CHECK(again.serializedSize() == size);
    FUZZ_CHECK(again.serialize(second.get(), size));
    FUZZ_CHECK(std::memcmp(form.get(), second.get(), size) == 0);
    return std::string(reinterpret_cast<const char*>(form.get()), size);
}

void readAnyBytes(const uint8_t* data, size_t size) {
    const uint32_t length = static_cast<uint32_t>(size);
    const fuzz::RawFrame frame = fuzz::frameRaw(data, size);
    std::string expected;
    const bool accept = frame.framed && fuzz::narrowTextOf(frame, expected);

    CQIRLogStringMultiByte s("prior text");
    uint32_t consumed = 0xDEADBEEF;
    const bool read = s.deserialize(data, length, consumed);
    FUZZ_CHECK(read == accept);
    if (!read) {
        // A refused record leaves the string and the count as they were.
        FUZZ_CHECK(consumed == 0xDEADBEEF);
        FUZZ_CHECK(sameText(s, "prior text"));
        FUZZ_CHECK(s.getSize() == sizeof "prior text");
        return;
    }
    FUZZ_CHECK(consumed == frame.consumed);
    FUZZ_CHECK(sameText(s, expected));
    if (frame.format == 1 && frame.declared > 1) {
        // 8-bit text is kept as it lay: all L bytes, the ones after the terminator too.
        FUZZ_CHECK(s.getSize() == frame.declared);
        FUZZ_CHECK(std::memcmp(s.getBuffer(), data + 5, frame.declared) == 0);
    } else if (expected.empty()) {
        // The empty string's own form, and UTF-16 text that is empty: no storage at all.
        FUZZ_CHECK(s.getSize() == 0 && s.getBuffer() == nullptr);
    }

    const std::string form = writeAndReread(s);
    if (frame.canonical) {
        FUZZ_CHECK(form.size() == frame.consumed);
        FUZZ_CHECK(std::memcmp(form.data(), data, form.size()) == 0);
    }
}

// Any 8-bit text (the input up to its first zero byte) survives its form.
void writeAnyText(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    const CQIRLogStringMultiByte s(text.c_str());
    FUZZ_CHECK(sameText(s, text));
    FUZZ_CHECK(s.getSize() == (text.empty() ? 0 : text.size() + 1));
    const std::string form = writeAndReread(s);
    CQIRLogStringMultiByte again;
    uint32_t consumed = 0;
    FUZZ_CHECK(again.deserialize(reinterpret_cast<const unsigned char*>(form.data()),
                                 static_cast<uint32_t>(form.size()), consumed));
    FUZZ_CHECK(again == s);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::inEachLocale([&] {
        readAnyBytes(data, size);
        writeAnyText(data, size);
    });
    return 0;
}
