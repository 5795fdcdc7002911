// UTF-8 one code point at a time: for the file names and paths that POSIX hands over as UTF-8,
// and for tools that print UTF-16 text. Plain arithmetic, the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qir::sys {

// Appends the UTF-8 bytes of `value` (at most U+10FFFF).
inline void appendUtf8(std::string& out, uint32_t value) {
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (value >> 18));
        out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

// Reads the code point that starts `text` (`size` bytes available) into `value` and answers
// its length in bytes; 0 for a byte that starts none, a sequence cut short or with a byte
// that does not continue it, a surrogate, or a value past U+10FFFF. Overlong forms are read
// as their value; callers that must refuse them compare with the length.
inline size_t decodeUtf8(const char* text, size_t size, uint32_t& value) {
    if (size == 0) {
        return 0;
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80    ? 1
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
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    value = code;
    return length;
}

}  // namespace qir::sys
