// The entry points every fuzz target shares: a target defines fuzz::testOne, which runs once in
// each locale the text conversions follow. Also the helpers of more than one target.
#pragma once

#include <locale.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "qir_sys/wide.h"
#include "qir_types.h"

// Ends the run with its reason in any build type; libFuzzer then prints where.
#define FUZZ_CHECK(c) ((c) ? void() : (std::fputs("check failed: " #c "\n", stderr), std::abort()))

namespace fuzz {

using Bytes = std::basic_string<uint8_t>;
using Units = std::basic_string<qir_wchar_t>;

void testOne(const uint8_t* data, size_t size);

inline uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The `count` elements at `p`, which is null when there are none (and then never copied from:
// the C library's copy takes no null pointer, not even for no bytes).
template <class C>
std::basic_string<std::remove_const_t<C>> held(C* p, size_t count) {
    if (count == 0) {
        return {};
    }
    return std::basic_string<std::remove_const_t<C>>(p, p + count);
}

// The bytes as little-endian elements; an odd last byte of UTF-16 is left out.
template <class Char>
std::basic_string<Char> elements(const uint8_t* p, size_t size) {
    std::basic_string<Char> out;
    for (size_t i = 0; i + sizeof(Char) <= size; i += sizeof(Char))
        out += static_cast<Char>(sizeof(Char) == 1 ? p[i] : p[i] | p[i + 1] << 8);
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
    to = from;
    return true;
}
// Text (up to its first zero) between 8-bit and UTF-16 in the current locale, as the classes
// convert it; false when a character has no form on the other side.
template <class From, class To>
bool convert(const From& from, To& to) {
    const size_t count = convert(from.c_str(), static_cast<typename To::value_type*>(nullptr), 0);
    if (count == qir::sys::kConversionFailed) {
        to.clear();
        return false;
    }
    to.assign(count + 1, 0);
    convert(from.c_str(), &to[0], count + 1);
    to.resize(count);
    return true;
}

// Writes the object into storage of exactly serializedSize() bytes (the sanitizer sees any byte
// written past them) once one byte less and no storage were refused without a byte written, then
// reads the form back into `again`, which must take all of it and write the same bytes.
template <class T>
Bytes roundTrip(const T& object, T& again) {
    const uint32_t size = object.serializedSize();
    std::vector<uint8_t> form(size, 0xA5);
    FUZZ_CHECK(!object.serialize(form.data(), size - 1) && !object.serialize(nullptr, size));
    FUZZ_CHECK(std::count(form.begin(), form.end(), 0xA5) == size &&
               object.serialize(form.data(), size));
    const Bytes bytes(form.begin(), form.end());
    uint32_t consumed = 0;
    FUZZ_CHECK(again.deserialize(form.data(), size, consumed) && consumed == size &&
               again.serializedSize() == size);
    FUZZ_CHECK(again.serialize(form.data(), size) && Bytes(form.begin(), form.end()) == bytes);
    return bytes;
}

}  // namespace fuzz

// Failure reports of the classes go through the logger, which reads the machine's logging
// configuration on the first one: a fuzz run must not write into the machine's log files, so it
// finds an empty one. The locales are made once, so that no input's leak check sees them; where
// C.UTF-8 is missing only "C" is tried.
static locale_t g_locales[2];

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_locales[0] = newlocale(LC_ALL_MASK, "C", nullptr);
#ifndef FUZZ_ONE_LOCALE  // defined by the targets whose results cannot depend on the locale
    g_locales[1] = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
#endif
    return setenv("QIR_REGISTRY", "/dev/null", 1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (locale_t locale : g_locales)
        if (locale != nullptr && uselocale(locale) != nullptr)
            fuzz::testOne(data, size);
    uselocale(LC_GLOBAL_LOCALE);
    return 0;
}
