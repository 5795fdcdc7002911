// CQIRLogStringWChar's raw form: reading any bytes, and writing back what it read. The
// UTF-16 class keeps no form of its own: it reads and writes the 8-bit one, converted in the
// current locale.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "qir_log_string.h"

namespace {

fuzz::Units unitsOf(const CQIRLogStringWChar& s) {
    return s.getSize() == 0 ? fuzz::Units() : fuzz::Units(s.getBuffer(), s.length());
}

bool sameUnits(const CQIRLogStringWChar& s, const fuzz::Units& units) {
    if (units.empty()) {
        return s.getSize() == 0 && s.getBuffer() == nullptr;
    }
    return unitsOf(s) == units;
}

// What a UTF-16 log string holds after reading 8-bit text: its units, one element for every
// byte and the terminator; empty when the text does not convert in the current locale.
void expectReadFrom(const CQIRLogStringWChar& s, const std::string& text) {
    fuzz::Units units;
    if (text.empty() || !fuzz::toUnits(text, units)) {
        FUZZ_CHECK(s.getSize() == 0 && s.getBuffer() == nullptr);
        return;
    }
    FUZZ_CHECK(s.getSize() == text.size() + 1);
    FUZZ_CHECK(sameUnits(s, units));
}

// Writes `s` into storage of exactly serializedSize() bytes, checks the form against the text's
// 8-bit form and reads it back.
std::string writeAndReread(const CQIRLogStringWChar& s) {
    std::string narrow;
    const bool narrows = fuzz::toNarrow(unitsOf(s), narrow);
    // A text with no 8-bit form here is written as the empty string.
    const std::string carried = narrows ? narrow : std::string();

    const uint32_t size = s.serializedSize();
    FUZZ_CHECK(size == carried.size() + 6);
    std::unique_ptr<unsigned char[]> form(new unsigned char[size]);
    std::memset(form.get(), 0xA5, size);
    FUZZ_CHECK(!s.serialize(form.get(), size - 1));
    for (uint32_t i = 0; i < size; ++i) {
        FUZZ_CHECK(form[i] == 0xA5);
    }
    FUZZ_CHECK(s.serialize(form.get(), size));
    FUZZ_CHECK(form[0] == 1);
    FUZZ_CHECK(fuzz::le32(form.get() + 1) == carried.size() + 1);
    FUZZ_CHECK(std::memcmp(form.get() + 5, carried.c_str(), carried.size() + 1) == 0);

    CQIRLogStringWChar again;
    uint32_t consumed = 0;
    FUZZ_CHECK(again.deserialize(form.get(), size, consumed));
    FUZZ_CHECK(consumed == size);
    expectReadFrom(again, carried);
    // A text that narrows comes back as the same units. The element counts may differ: the
    // text read back has one element for every byte of its 8-bit form.
    if (narrows) {
        FUZZ_CHECK(unitsOf(again) == unitsOf(s));
    }

    std::unique_ptr<unsigned char[]> second(new unsigned char[size]);
    FUZZ_CHECK(again.serializedSize() == size);
    FUZZ_CHECK(again.serialize(second.get(), size));
    FUZZ_CHECK(std::memcmp(form.get(), second.get(), size) == 0);
    return std::string(reinterpret_cast<const char*>(form.get()), size);
}

void readAnyBytes(const uint8_t* data, size_t size) {
    const uint32_t length = static_cast<uint32_t>(size);
    const fuzz::RawFrame frame = fuzz::frameRaw(data, size);
    std::string narrow;
    const bool accept = frame.framed && fuzz::narrowTextOf(frame, narrow);

    const CQIRLogStringWChar prior("prior text");
    CQIRLogStringWChar s(prior);
    uint32_t consumed = 0xDEADBEEF;
    const bool read = s.deserialize(data, length, consumed);
    FUZZ_CHECK(read == accept);
    if (!read) {
        FUZZ_CHECK(consumed == 0xDEADBEEF);
        FUZZ_CHECK(s == prior);
        return;
    }
    FUZZ_CHECK(consumed == frame.consumed);
    expectReadFrom(s, narrow);

    const std::string form = writeAndReread(s);
    // Bytes already in the form the class writes come back as they were, whenever their
    // text converts to UTF-16 and back here.
    fuzz::Units units;
    if (frame.canonical && fuzz::toUnits(narrow, units)) {
        FUZZ_CHECK(form.size() == frame.consumed);
        FUZZ_CHECK(std::memcmp(form.data(), data, form.size()) == 0);
    }
}

// Any UTF-16 text (the input's byte pairs up to the first zero unit) survives its form when
// it has an 8-bit form here, and is written as the empty string when it has none.
void writeAnyText(const uint8_t* data, size_t size) {
    fuzz::Units units;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<qir_wchar_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) {
            break;
        }
        units.push_back(unit);
    }
    const CQIRLogStringWChar s(units.c_str());
    FUZZ_CHECK(sameUnits(s, units));
    FUZZ_CHECK(units.empty() || s.getSize() == units.size() + 1);
    writeAndReread(s);
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
