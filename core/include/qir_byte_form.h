// What the byte forms of the core share: the little-endian numbers that records, strings, log
// strings, byte buffers and registry data are made of, the header of a text's form (a format
// byte and a 32-bit length), the scan for a text's terminator and the decimal text of a number.
// Unaligned reads and writes, the same bytes on every platform.
#pragma once

#include <cstdint>
#include <cstring>

#include "qir_sys/unicode.h"

namespace qir::form {

// Format bytes: the text that follows is 8-bit, or UTF-16LE.
constexpr unsigned char kFormatNarrow = 1;
constexpr unsigned char kFormatWide = 2;
// The format byte and the 32-bit length before a text.
constexpr uint32_t kHeaderSize = 5;

inline uint32_t get32(const unsigned char* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

inline void put32(unsigned char* out, uint32_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
}

// One UTF-16 unit from two bytes, low-order byte first.
inline uint16_t get16(const unsigned char* in) {
    return static_cast<uint16_t>(in[0] | in[1] << 8);
}

// The index of the first zero element among the first n, or n when there is none. All n may be
// read: 8-bit text through memchr, UTF-16 through the codec's block scan.
template <class Char>
uint32_t firstZero(const Char* text, uint32_t n) {
    if constexpr (sizeof(Char) == 1) {
        const void* zero = n == 0 ? nullptr : std::memchr(text, 0, n);
        return zero == nullptr ? n : static_cast<uint32_t>(static_cast<const Char*>(zero) - text);
    } else {
        return static_cast<uint32_t>(qir::sys::zeroIndex(text, n));
    }
}

// The decimal text of a 32-bit value read as signed, as "%d" writes it; answers its length.
inline uint32_t formatDecimal(uint32_t value, char (&out)[12]) {
    const auto signedValue = static_cast<int64_t>(static_cast<int32_t>(value));
    uint64_t magnitude = static_cast<uint64_t>(signedValue < 0 ? -signedValue : signedValue);
    char digits[12];
    uint32_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    uint32_t at = 0;
    if (signedValue < 0) {
        out[at++] = '-';
    }
    while (count > 0) {
        out[at++] = digits[--count];
    }
    return at;
}

}  // namespace qir::form
