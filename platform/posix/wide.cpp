#include "qir_sys/wide.h"

#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

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

// Units before the terminator.
size_t utf16Length(const WideUnit* text) {
    size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
}

// The text as the platform's wide characters (UCS-4), pairs joined and a lone surrogate kept
// as its value; malloc'd, the caller frees it. Null without memory.
wchar_t* toPlatformWide(const WideUnit* text) {
    const size_t units = utf16Length(text);
    auto* wide = static_cast<wchar_t*>(std::malloc((units + 1) * sizeof(wchar_t)));
    if (wide == nullptr) {
        return nullptr;
    }
    size_t out = 0;
    for (size_t i = 0; i < units; ++i) {
        uint32_t value = text[i];
        if (value >= 0xD800 && value <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            value =
                0x10000 + ((value - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        }
        wide[out++] = static_cast<wchar_t>(value);
    }
    wide[out] = 0;
    return wide;
}

// A unit as towlower sees it; surrogates have no case.
uint32_t foldCase(WideUnit unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return unit;
    }
    return static_cast<uint32_t>(std::towlower(static_cast<wint_t>(unit)));
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

size_t utf16ToMultiByte(const WideUnit* text, char* out, size_t capacity) {
    const size_t units = utf16Length(text);
    size_t written = 0;
    for (size_t i = 0; i < units;) {
        char bytes[kMaxMultiByteChar];
        size_t used = 0;
        const int n = utf16CharToMultiByte(text + i, units - i, bytes, used);
        if (n < 0) {
            return kConversionFailed;
        }
        const auto size = static_cast<size_t>(n);
        if (out != nullptr) {
            if (written + size > capacity) {
                return written;  // as wcstombs: never part of a character
            }
            std::memcpy(out + written, bytes, size);
        }
        written += size;
        i += used;
    }
    if (out != nullptr && written < capacity) {
        out[written] = 0;
    }
    return written;
}

int compareNoCase(const char* a, const char* b, size_t count) {
    return strncasecmp(a, b, count);
}

int compareNoCase(const WideUnit* a, const WideUnit* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t left = foldCase(a[i]);
        const uint32_t right = foldCase(b[i]);
        if (left != right) {
            return left < right ? -1 : 1;
        }
        if (a[i] == 0) {
            break;
        }
    }
    return 0;
}

bool utf16ToDouble(const WideUnit* text, double& value) {
    wchar_t* wide = toPlatformWide(text);
    if (wide == nullptr) {
        return false;
    }
    value = std::wcstod(wide, nullptr);
    const int error = errno;
    std::free(wide);
    errno = error;
    return true;
}

bool utf16ToLong(const WideUnit* text, int radix, long& value) {
    wchar_t* wide = toPlatformWide(text);
    if (wide == nullptr) {
        return false;
    }
    value = std::wcstol(wide, nullptr, radix);
    const int error = errno;
    std::free(wide);
    errno = error;
    return true;
}

}  // namespace qir::sys
