#include "qir_sys/wide.h"

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

}  // namespace qir::sys
