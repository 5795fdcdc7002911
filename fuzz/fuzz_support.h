// What the fuzz targets share: a check that ends the run with its reason in any build type,
// the locales every text conversion is tried in, and the raw form of a log string framed
// independently of the classes that read it.
#pragma once

#include <locale.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qir_sys/wide.h"
#include "qir_types.h"

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzz::fail(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

// The conversions between 8-bit text and UTF-16 follow the C runtime's locale: the "C"
// locale, where every character is one byte, and C.UTF-8, where characters take one to four
// bytes and lone surrogates have no 8-bit form. Where C.UTF-8 is missing only "C" is tried.
struct Locales {
    locale_t all[2] = {};
    size_t count = 0;
};

inline Locales& locales() {
    // Plain storage, not a container: the leak check must see the locales held.
    static Locales made = [] {
        Locales found;
        if (locale_t c = newlocale(LC_ALL_MASK, "C", nullptr)) {
            found.all[found.count++] = c;
        }
        if (locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr)) {
            found.all[found.count++] = utf8;
        }
        return found;
    }();
    return made;
}

// Before the first input. Failure reports of the classes go through the library's logger,
// which reads the machine's logging configuration on the first one: a fuzz run must not write
// into the machine's log files, so the configuration it finds is an empty file. The locales are
// made once, outside any input, so that the leak check of an input never sees them.
inline void setUp() {
    setenv("QIR_REGISTRY", "/dev/null", 1);
    locales();
}

// Runs `body` once in each locale, on this thread.
template <class Body>
void inEachLocale(Body body) {
    for (size_t i = 0; i < locales().count; ++i) {
        uselocale(locales().all[i]);
        body();
    }
    uselocale(LC_GLOBAL_LOCALE);
}

inline uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

using Units = std::basic_string<qir_wchar_t>;

// The units of 8-bit text in the current locale, or false when it does not convert.
inline bool toUnits(const std::string& text, Units& units) {
    const size_t count = qir::sys::multiByteToUtf16(text.c_str(), nullptr, 0);
    if (count == qir::sys::kConversionFailed) {
        return false;
    }
    units.assign(count + 1, 0);
    qir::sys::multiByteToUtf16(text.c_str(), &units[0], count + 1);
    units.resize(count);
    return true;
}

// The 8-bit form of UTF-16 text in the current locale, or false when a character has none.
inline bool toNarrow(const Units& units, std::string& text) {
    const size_t count = qir::sys::utf16ToMultiByte(units.c_str(), nullptr, 0);
    if (count == qir::sys::kConversionFailed) {
        return false;
    }
    text.assign(count + 1, '\0');
    qir::sys::utf16ToMultiByte(units.c_str(), &text[0], count + 1);
    text.resize(count);
    return true;
}

// The log string record at the front of some bytes, as the raw form defines it: a format
// byte (1: 8-bit text; 2: UTF-16LE text, read and narrowed; 0: only for the empty string),
// a little-endian length L and L bytes of text with its terminator. L of 0 or 1 is the empty
// string in six bytes. A text without its terminator inside L, and UTF-16 text of an odd
// L, are refused.
struct RawFrame {
    bool framed = false;     // the bytes hold one whole record
    uint32_t consumed = 0;   // its size
    uint8_t format = 0;      // its format byte
    uint32_t declared = 0;   // its L
    std::string text;        // format 1: the 8-bit text up to its terminator
    Units units;             // format 2: the UTF-16 text up to its terminator
    bool canonical = false;  // the bytes are exactly the form a log string writes
};

inline RawFrame frameRaw(const uint8_t* data, size_t size) {
    RawFrame frame;
    if (size < 5 || data[0] > 2 || size < static_cast<size_t>(data[0]) + 5) {
        return frame;
    }
    frame.format = data[0];
    frame.declared = le32(data + 1);
    if (frame.declared <= 1) {
        if (size < 6) {
            return frame;
        }
        frame.framed = true;
        frame.consumed = 6;
        frame.canonical = frame.format == 1 && frame.declared == 1 && data[5] == 0;
        return frame;
    }
    if (frame.format == 0 || uint64_t{frame.declared} + 5 > size) {
        return frame;
    }
    const uint8_t* text = data + 5;
    if (frame.format == 1) {
        const void* zero = std::memchr(text, 0, frame.declared);
        if (zero == nullptr) {
            return frame;
        }
        frame.text.assign(reinterpret_cast<const char*>(text),
                          static_cast<const uint8_t*>(zero) - text);
        frame.canonical = frame.text.size() + 1 == frame.declared;
    } else {
        if (frame.declared % 2 != 0) {
            return frame;
        }
        size_t i = 0;
        for (; i < frame.declared / 2; ++i) {
            const auto unit = static_cast<qir_wchar_t>(text[2 * i] | text[2 * i + 1] << 8);
            if (unit == 0) {
                break;
            }
            frame.units.push_back(unit);
        }
        if (i == frame.declared / 2) {
            return frame;
        }
    }
    frame.framed = true;
    frame.consumed = frame.declared + 5;
    return frame;
}

// The 8-bit text a log string holds after reading a framed record in the current locale, or
// false when the classes must refuse it there (UTF-16 text without an 8-bit form).
inline bool narrowTextOf(const RawFrame& frame, std::string& text) {
    if (frame.format == 2 && frame.declared > 1) {
        return toNarrow(frame.units, text);
    }
    text = frame.text;
    return true;
}

}  // namespace fuzz
