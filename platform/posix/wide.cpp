#include "qir_sys/wide.h"

#include <langinfo.h>
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "qir_sys/unicode.h"

namespace qir::sys {

namespace {

// Units before the terminator.
size_t textUnits(const WideUnit* text) {
    size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
}

// The text as the platform's wide characters (UCS-4), pairs joined and a lone surrogate kept
// as its value; malloc'd, the caller frees it. Null without memory.
wchar_t* toPlatformWide(const WideUnit* text) {
    const size_t units = textUnits(text);
    auto* wide = static_cast<wchar_t*>(std::malloc((units + 1) * sizeof(wchar_t)));
    if (wide == nullptr) {
        return nullptr;
    }
    size_t out = 0;
    for (size_t i = 0; i < units;) {
        uint32_t value = 0;
        i += getUtf16(text + i, units - i, value);
        wide[out++] = static_cast<wchar_t>(value);
    }
    wide[out] = 0;
    return wide;
}

// Whether the current locale's code set is UTF-8: then the codec converts, with the C runtime's
// own rules (shortest forms only, no surrogates, nothing past U+10FFFF).
bool utf8Locale() {
    return MB_CUR_MAX >= 4 && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

// Whether each ASCII byte is its own character in the current locale, so that runs of ASCII
// can be copied as they are. Nearly every code set keeps ASCII; Shift-JIS as glibc has it reads
// 0x5C as YEN SIGN and 0x7E as OVERLINE, the two bytes that such code sets take over.
bool asciiIsItself(bool utf8) {
    if (utf8) {
        return true;
    }
    for (const char byte : {'\\', '~'}) {
        wchar_t wide = 0;
        std::mbstate_t state{};
        if (std::mbrtowc(&wide, &byte, 1, &state) != 1 || wide != static_cast<wchar_t>(byte)) {
            return false;
        }
    }
    return true;
}

// A unit as towlower sees it; surrogates have no case.
uint32_t foldCase(WideUnit unit) {
    if (isSurrogate(unit)) {
        return unit;
    }
    return static_cast<uint32_t>(std::towlower(static_cast<wint_t>(unit)));
}

// One character of UTF-16 text as wcrtomb writes it in the current locale: its bytes, their
// number, and `used`, the units it took; -1 when it has no 8-bit form here.
constexpr size_t kMaxMultiByteChar = 16;
int utf16CharToMultiByte(const WideUnit* text, size_t available, char (&bytes)[kMaxMultiByteChar],
                         size_t& used) {
    if (available == 0) {
        return -1;
    }
    uint32_t value = 0;
    used = getUtf16(text, available, value);
    if (isSurrogate(value)) {
        return -1;  // half a pair is no character
    }
    static_assert(kMaxMultiByteChar >= MB_LEN_MAX, "room for any character");
    std::mbstate_t state{};
    const size_t written = std::wcrtomb(bytes, static_cast<wchar_t>(value), &state);
    // glibc's "C" locale writes the tag characters (U+E0000 to U+E007F) as no bytes at all: a
    // character that would vanish from the text has no form here either.
    return written == static_cast<size_t>(-1) || written == 0 ? -1 : static_cast<int>(written);
}

// Where the UTF-16 units of one conversion go: to `out` while they fit in `capacity` (never half
// a pair, as mbstowcs), or only counted when `out` is null.
struct Utf16Sink {
    WideUnit* out;
    size_t capacity;
    size_t units = 0;
    bool full = false;

    // Adds ASCII bytes, as many as fit.
    void putAscii(const char* bytes, size_t count) {
        if (out != nullptr) {
            if (count > capacity - units) {
                count = capacity - units;
                full = true;
            }
            widenAscii(bytes, count, out + units);
        }
        units += count;
    }

    // Adds one code point; false when it has no UTF-16 form.
    bool put(uint32_t value) {
        const size_t need = utf16Length(value);
        if (need == 0) {
            return false;
        }
        if (out != nullptr) {
            if (need > capacity - units) {
                full = true;
                return true;
            }
            putUtf16(value, out + units);
        }
        units += need;
        return true;
    }
};

}  // namespace

size_t multiByteToUtf16(const char* text, WideUnit* out, size_t capacity) {
    Utf16Sink sink{out, capacity};
    const size_t size = std::strlen(text);
    const bool utf8 = utf8Locale();
    const size_t ascii = asciiIsItself(utf8) ? asciiPrefix(text, size) : 0;
    sink.putAscii(text, ascii);
    if (ascii < size && !sink.full) {
        if (utf8) {
            for (size_t i = ascii; i < size && !sink.full;) {
                const size_t run = asciiPrefix(text + i, size - i);
                if (run != 0) {
                    sink.putAscii(text + i, run);
                    i += run;
                    continue;
                }
                uint32_t value = 0;
                const size_t length = decodeUtf8(text + i, size - i, value);
                if (length == 0 || !isShortestUtf8(value, length) || !sink.put(value)) {
                    return kConversionFailed;
                }
                i += length;
            }
        } else {
            // The C runtime's whole-text conversion, a bounded piece at a time.
            const char* rest = text + ascii;
            std::mbstate_t state{};
            while (rest != nullptr && !sink.full) {
                wchar_t piece[64];
                const size_t count = std::mbsrtowcs(piece, &rest, 64, &state);
                if (count == static_cast<size_t>(-1)) {
                    return kConversionFailed;
                }
                for (size_t i = 0; i < count && !sink.full; ++i) {
                    if (!sink.put(static_cast<uint32_t>(piece[i]))) {
                        return kConversionFailed;
                    }
                }
            }
        }
    }
    if (out != nullptr && !sink.full && sink.units < capacity) {
        out[sink.units] = 0;
    }
    return sink.units;
}

size_t utf16ToMultiByte(const WideUnit* text, char* out, size_t capacity) {
    return utf16ToMultiByte(text, textUnits(text), out, capacity);
}

size_t utf16ToMultiByte(const WideUnit* text, size_t units, char* out, size_t capacity) {
    const bool utf8 = utf8Locale();
    const bool ascii = asciiIsItself(utf8);
    size_t written = 0;
    for (size_t i = 0; i < units;) {
        const size_t run = ascii ? asciiPrefix(text + i, units - i) : 0;
        if (run != 0) {
            const size_t fits =
                out == nullptr || run <= capacity - written ? run : capacity - written;
            if (out != nullptr) {
                narrowAscii(text + i, fits, out + written);
            }
            written += fits;
            if (fits < run) {
                return written;  // as wcstombs: what fits, and no terminator
            }
            i += run;
            continue;
        }
        char bytes[kMaxMultiByteChar];
        size_t size = 0;
        size_t used = 0;
        if (utf8) {
            uint32_t value = 0;
            used = getUtf16(text + i, units - i, value);
            if (isSurrogate(value)) {
                return kConversionFailed;  // half a pair is no character
            }
            char encoded[4];
            size = encodeUtf8(value, encoded);
            std::memcpy(bytes, encoded, size);
        } else {
            const int n = utf16CharToMultiByte(text + i, units - i, bytes, used);
            if (n < 0) {
                return kConversionFailed;
            }
            size = static_cast<size_t>(n);
        }
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
