// The one UTF-8 and UTF-16 codec of the tree: code points one at a time, and whole texts. File
// names and paths on POSIX, the .reg files, the log files and the tools all go through it, so
// that surrogate pairs and byte sequences are formed and checked in this file alone. Plain
// arithmetic, the same on every platform. `Unit` is any 16-bit code unit type (char16_t,
// wchar_t on Windows); whole texts are in the platform's WideUnit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "qir_sys/wide.h"

namespace qir::sys {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

inline bool isSurrogate(uint32_t value) {
    return value >= 0xD800 && value <= 0xDFFF;
}

// UTF-16 units that a code point takes: 1 or 2, or 0 for a surrogate or a value past U+10FFFF.
inline size_t utf16Length(uint32_t value) {
    if (isSurrogate(value)) {
        return 0;
    }
    return value <= 0xFFFF ? 1 : value <= 0x10FFFF ? 2 : 0;
}

// Writes the utf16Length(value) units of a code point.
template <class Unit>
void putUtf16(uint32_t value, Unit* out) {
    if (value <= 0xFFFF) {
        out[0] = static_cast<Unit>(value);
        return;
    }
    const uint32_t offset = value - 0x10000;
    out[0] = static_cast<Unit>(0xD800 + (offset >> 10));
    out[1] = static_cast<Unit>(0xDC00 + (offset & 0x3FF));
}

// Reads the code point at the front of `text`, of which `available` units may be read: a
// surrogate pair takes 2 units, anything else 1; an unpaired surrogate is read as its own value
// (isSurrogate tells it). Answers the units taken; 0 when nothing is available.
template <class Unit>
size_t getUtf16(const Unit* text, size_t available, uint32_t& value) {
    if (available == 0) {
        return 0;
    }
    value = static_cast<uint16_t>(text[0]);
    if (value >= 0xD800 && value <= 0xDBFF && available >= 2) {
        const uint32_t low = static_cast<uint16_t>(text[1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
            return 2;
        }
    }
    return 1;
}

// Writes the UTF-8 bytes of `value` (at most U+10FFFF) and answers their number, 1 to 4.
inline size_t encodeUtf8(uint32_t value, char (&out)[4]) {
    if (value < 0x80) {
        out[0] = static_cast<char>(value);
        return 1;
    }
    if (value < 0x800) {
        out[0] = static_cast<char>(0xC0 | (value >> 6));
        out[1] = static_cast<char>(0x80 | (value & 0x3F));
        return 2;
    }
    if (value < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (value >> 12));
        out[1] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (value & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (value >> 18));
    out[1] = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (value & 0x3F));
    return 4;
}

// Appends the UTF-8 bytes of `value` (at most U+10FFFF).
inline void appendUtf8(std::string& out, uint32_t value) {
    char bytes[4];
    out.append(bytes, encodeUtf8(value, bytes));
}

// Reads the code point that starts `text` (`size` bytes available) into `value` and answers
// its length in bytes; 0 for a byte that starts none, a sequence cut short or with a byte
// that does not continue it, a surrogate, or a value past U+10FFFF. Overlong forms are read
// as their value; isShortestUtf8 tells them.
inline size_t decodeUtf8(const char* text, size_t size, uint32_t& value) {
    if (size == 0) {
        return 0;
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80    ? 1
                          : lead >= 0xF8 ? 0
                          : lead >= 0xF0 ? 4
                          : lead >= 0xE0 ? 3
                          : lead >= 0xC0 ? 2
                                         : 0;
    if (length == 0 || length > size) {
        return 0;
    }
    uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (next & 0x3F);
    }
    if (code > 0x10FFFF || isSurrogate(code)) {
        return 0;
    }
    value = code;
    return length;
}

// Whether a code point decoded from `length` bytes took no more bytes than it needs.
inline bool isShortestUtf8(uint32_t value, size_t length) {
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    return length >= 1 && length <= 4 && value >= kSmallest[length];
}

// Whole texts, with ASCII runs (which every conversion copies before it decodes anything)
// taken many elements at a time.

// The number of ASCII elements (below 0x80, zero among them) at the front of `text`, of `count`
// at most.
size_t asciiPrefix(const WideUnit* text, size_t count);
size_t asciiPrefix(const char* text, size_t count);

// Copies `count` ASCII elements to the other width.
void narrowAscii(const WideUnit* text, size_t count, char* out);
void widenAscii(const char* text, size_t count, WideUnit* out);

// asciiPrefix and narrowAscii in one pass: copies the ASCII units at the front of `text` to
// `out` and answers their number. `out` has room for `count` bytes; those past the answer are
// unspecified.
size_t narrowAsciiPrefix(const WideUnit* text, size_t count, char* out);

// The index of the first zero unit among the first `count`, or `count` when there is none.
size_t zeroIndex(const WideUnit* text, size_t count);

// The length of the text at the front of `text` (the elements before the first zero among the
// first `count`, or all `count`) when it is all ASCII, else kNotAscii: zeroIndex and asciiPrefix
// in one pass.
constexpr size_t kNotAscii = SIZE_MAX;
size_t asciiTextLength(const WideUnit* text, size_t count);
size_t asciiTextLength(const char* text, size_t count);

// UTF-16 up to its first zero unit or `count` units to UTF-8, appended to `out`. An unpaired
// surrogate becomes U+FFFD when `replaceUnpaired`; otherwise the answer is false and `out`
// holds the text before it.
bool utf16ToUtf8(const WideUnit* text, size_t count, std::string& out, bool replaceUnpaired);

// UTF-8 to UTF-16, appended to `out`: every byte that does not start a well-formed sequence in
// its shortest form reads as U+FFFD.
void utf8ToUtf16(const char* text, size_t size, std::basic_string<WideUnit>& out);

}  // namespace qir::sys
