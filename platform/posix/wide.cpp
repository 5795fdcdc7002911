#include "qir_sys/wide.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>

namespace qir::sys {

namespace {

// UTF-16 units that one code point takes, or 0 for a value that is no code point.
size_t utf16Length(uint32_t value) {
    if (value >= 0xD800 && value <= 0xDFFF) {
        return 0;
    }
    if (value <= 0xFFFF) {
        return 1;
    }
    return value <= 0x10FFFF ? 2 : 0;
}

}  // namespace

size_t multiByteToUtf16(const char* text, WideUnit* out, size_t capacity) {
    std::mbstate_t state{};
    const char* position = text;
    size_t remaining = std::strlen(text);
    size_t units = 0;
    while (remaining > 0) {
        wchar_t c = 0;
        const size_t used = std::mbrtowc(&c, position, remaining, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
            return kConversionFailed;
        }
        const auto value = static_cast<uint32_t>(c);
        const size_t need = utf16Length(value);
        if (need == 0) {
            return kConversionFailed;
        }
        if (out != nullptr) {
            if (units + need > capacity) {
                return units;  // as mbstowcs: what was written, never half a pair
            }
            if (need == 1) {
                out[units] = static_cast<WideUnit>(value);
            } else {
                const uint32_t v = value - 0x10000;
                out[units] = static_cast<WideUnit>(0xD800 + (v >> 10));
                out[units + 1] = static_cast<WideUnit>(0xDC00 + (v & 0x3FF));
            }
        }
        units += need;
        position += used;
        remaining -= used;
    }
    if (out != nullptr && units < capacity) {
        out[units] = 0;
    }
    return units;
}

int multiByteCharToUtf16(const char* text, size_t available, WideUnit (&units)[2], size_t& count) {
    std::mbstate_t state{};
    wchar_t c = 0;
    const size_t used = std::mbrtowc(&c, text, available, &state);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
        return -1;
    }
    const auto value = static_cast<uint32_t>(c);
    count = utf16Length(value);
    if (count == 0) {
        return -1;
    }
    if (count == 1) {
        units[0] = static_cast<WideUnit>(value);
    } else {
        const uint32_t v = value - 0x10000;
        units[0] = static_cast<WideUnit>(0xD800 + (v >> 10));
        units[1] = static_cast<WideUnit>(0xDC00 + (v & 0x3FF));
    }
    return static_cast<int>(used);
}

int utf16CharToMultiByte(const WideUnit* text, size_t available, char (&bytes)[kMaxMultiByteChar],
                         size_t& used) {
    if (available == 0) {
        return -1;
    }
    uint32_t value = text[0];
    used = 1;
    if (value >= 0xD800 && value <= 0xDBFF && available >= 2 && text[1] >= 0xDC00 &&
        text[1] <= 0xDFFF) {
        value = 0x10000 + ((value - 0xD800) << 10) + (static_cast<uint32_t>(text[1]) - 0xDC00);
        used = 2;
    } else if (value >= 0xD800 && value <= 0xDFFF) {
        return -1;  // half a pair is no character
    }
    static_assert(kMaxMultiByteChar >= MB_LEN_MAX, "room for any character");
    std::mbstate_t state{};
    const size_t written = std::wcrtomb(bytes, static_cast<wchar_t>(value), &state);
    return written == static_cast<size_t>(-1) ? -1 : static_cast<int>(written);
}

}  // namespace qir::sys
