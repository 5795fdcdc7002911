// The entry points every fuzz target shares: each target defines fuzz::testOne, which runs once
// in each locale the text conversions follow. Also the helpers of more than one target: a
// check that ends the run with its reason in any build type, the text conversions, the framing
// of a log string's raw form done independently of the classes, and the write and read-back of
// a raw form.
#pragma once

#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qir_sys/wide.h"
#include "qir_types.h"

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzz::fail(#condition, __FILE__, __LINE__))

namespace fuzz {

using Bytes = std::vector<uint8_t>;
using Units = std::basic_string<qir_wchar_t>;

void testOne(const uint8_t* data, size_t size);

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

inline uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The bytes as elements of type Char, little-endian; an odd last byte of UTF-16 is left out.
template <class Char>
std::basic_string<Char> elements(const void* bytes, size_t size) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    std::basic_string<Char> out;
    for (size_t i = 0; i + sizeof(Char) <= size; i += sizeof(Char)) {
        out += static_cast<Char>(sizeof(Char) == 1 ? p[i] : p[i] | p[i + 1] << 8);
    }
    return out;
}

inline size_t convert(const char* in, qir_wchar_t* out, size_t capacity) {
    return qir::sys::multiByteToUtf16(in, out, capacity);
}
inline size_t convert(const qir_wchar_t* in, char* out, size_t capacity) {
    return qir::sys::utf16ToMultiByte(in, out, capacity);
}

template <class Text>
bool convert(const Text& from, Text& to) {
    return to = from, true;
}

// Text (up to its first zero) between 8-bit and UTF-16 in the current locale; false when a
// character has no form on the other side.
template <class From, class To>
bool convert(const From& from, To& to) {
    const size_t count = convert(from.c_str(), static_cast<typename To::value_type*>(nullptr), 0);
    if (count == qir::sys::kConversionFailed) {
        return false;
    }
    to.assign(count + 1, 0);
    convert(from.c_str(), &to[0], count + 1);
    return to.resize(count), true;
}

// The log string record at the front of the bytes: a format byte (1: 8-bit text; 2: UTF-16LE
// text, narrowed here; 0: only for the empty string), a little-endian length L and L bytes of
// text with its terminator; L of 0 or 1 is the empty string in six bytes. Answers the record's
// size, or 0 when a log string must refuse it, and sets its 8-bit text and whether the bytes are
// exactly the form a log string writes.
inline size_t frameRaw(const uint8_t* p, size_t size, std::string& text, bool& canonical) {
    text.clear();
    canonical = false;
    if (size < 5 || p[0] > 2 || size < p[0] + 5u) {
        return 0;
    }
    const uint32_t length = le32(p + 1);
    if (length <= 1) {
        canonical = size >= 6 && p[0] == 1 && length == 1 && p[5] == 0;
        return size >= 6 ? 6 : 0;
    }
    if (p[0] == 0 || length + uint64_t{5} > size) {
        return 0;
    }
    if (p[0] == 1) {
        text = elements<char>(p + 5, length);
        canonical = text.find('\0') == length - 1;
        return text.find('\0') == std::string::npos
                   ? 0
                   : (text.resize(strlen(text.c_str())), length + 5);
    }
    const Units units = elements<qir_wchar_t>(p + 5, length);
    const bool ended = length % 2 == 0 && units.find(qir_wchar_t{0}) != Units::npos;
    return ended && convert(units, text) ? length + 5 : 0;
}

// Writes the object into storage of exactly serializedSize() bytes (the sanitizer sees any byte
// written past them) after one byte less and no storage were refused without a byte written.
template <class T>
Bytes written(const T& object) {
    const uint32_t size = object.serializedSize();
    std::unique_ptr<uint8_t[]> form(new uint8_t[size]);
    std::memset(form.get(), 0xA5, size);
    FUZZ_CHECK(!object.serialize(form.get(), size - 1) && !object.serialize(nullptr, size));
    FUZZ_CHECK(std::count(form.get(), form.get() + size, 0xA5) == static_cast<ptrdiff_t>(size));
    FUZZ_CHECK(object.serialize(form.get(), size));
    return Bytes(form.get(), form.get() + size);
}

// Reads a whole form back into `again`; it must be taken in full.
template <class T>
T readBack(const Bytes& form, T again) {
    uint32_t consumed = 0;
    FUZZ_CHECK(again.deserialize(form.data(), static_cast<uint32_t>(form.size()), consumed));
    FUZZ_CHECK(consumed == form.size());
    return again;
}

}  // namespace fuzz

// Failure reports of the classes go through the logger, which reads the machine's logging
// configuration on the first one: a fuzz run must not write into the machine's log files, so it
// finds an empty one. The locales are made here, once, so that no input's leak check sees them;
// where C.UTF-8 is missing only "C" is tried.
static locale_t g_locales[2];

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QIR_REGISTRY", "/dev/null", 1);
    g_locales[0] = newlocale(LC_ALL_MASK, "C", nullptr);
    g_locales[1] = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (locale_t locale : g_locales) {
        if (locale != nullptr) {
            uselocale(locale);
            fuzz::testOne(data, size);
        }
    }
    uselocale(LC_GLOBAL_LOCALE);
    return 0;
}
