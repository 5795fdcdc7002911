#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "qir_sys/unicode.h"
#include "qir_sys/wide.h"
#include "qir_win32.h"

namespace qir::sys {

namespace win32 {

std::wstring widen(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int units =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (units <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), units);
    return wide;
}

std::string narrow(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int units = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return {};
    }
    std::string result(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), units, result.data(), bytes, nullptr, nullptr);
    return result;
}

}  // namespace win32

namespace {

// The bytes wcstombs gives for `length` units, counted by converting them a piece at a time
// into scratch storage rather than by wcstombs(nullptr, ...): that count is not always what the
// conversion gives (Wine's "C" locale counts characters past U+00FF that it then refuses). The
// pieces end between characters, and the code pages of the C runtime have no shift states.
size_t multiByteCount(const WideUnit* text, size_t length) {
    size_t total = 0;
    while (length > 0) {
        WideUnit piece[130];
        size_t units = 0;
        while (units < length && units < 128) {
            uint32_t value = 0;
            units += getUtf16(text + units, length - units, value);
        }
        std::memcpy(piece, text, units * sizeof(WideUnit));
        piece[units] = 0;
        char bytes[sizeof piece / sizeof(WideUnit) * MB_LEN_MAX];
        const size_t converted = std::wcstombs(bytes, piece, sizeof bytes);
        if (converted == kConversionFailed) {
            return converted;
        }
        total += converted;
        text += units;
        length -= units;
    }
    return total;
}

}  // namespace

size_t multiByteToUtf16(const char* text, WideUnit* out, size_t capacity) {
    // ASCII is itself in every code page; wchar_t is one UTF-16 unit here, so the C runtime
    // converts the rest in one call.
    const size_t length = std::strlen(text);
    const size_t ascii = asciiPrefix(text, length);
    if (out == nullptr) {
        const size_t rest = ascii == length ? 0 : std::mbstowcs(nullptr, text + ascii, 0);
        return rest == kConversionFailed ? rest : ascii + rest;
    }
    const size_t fits = ascii < capacity ? ascii : capacity;
    widenAscii(text, fits, out);
    if (fits < ascii) {
        return fits;
    }
    if (ascii == length) {
        if (ascii < capacity) {
            out[ascii] = 0;
        }
        return ascii;
    }
    const size_t rest = std::mbstowcs(out + ascii, text + ascii, capacity - ascii);
    return rest == kConversionFailed ? rest : ascii + rest;
}

size_t utf16ToMultiByte(const WideUnit* text, char* out, size_t capacity) {
    return utf16ToMultiByte(text, std::wcslen(text), out, capacity);
}

size_t utf16ToMultiByte(const WideUnit* text, size_t length, char* out, size_t capacity) {
    // ASCII is itself in every code page; the C runtime converts the rest in one call.
    const size_t ascii = asciiPrefix(text, length);
    if (out == nullptr) {
        const size_t rest = multiByteCount(text + ascii, length - ascii);
        return rest == kConversionFailed ? rest : ascii + rest;
    }
    const size_t fits = ascii < capacity ? ascii : capacity;
    narrowAscii(text, fits, out);
    if (fits < ascii) {
        return fits;
    }
    if (ascii == length) {
        if (ascii < capacity) {
            out[ascii] = '\0';
        }
        return ascii;
    }
    const size_t rest = std::wcstombs(out + ascii, text + ascii, capacity - ascii);
    return rest == kConversionFailed ? rest : ascii + rest;
}

int compareNoCase(const char* a, const char* b, size_t count) {
    return _strnicmp(a, b, count);
}

int compareNoCase(const WideUnit* a, const WideUnit* b, size_t count) {
    return _wcsnicmp(a, b, count);
}

bool utf16ToDouble(const WideUnit* text, double& value) {
    value = std::wcstod(text, nullptr);
    return true;
}

bool utf16ToLong(const WideUnit* text, int radix, long& value) {
    value = std::wcstol(text, nullptr, radix);
    return true;
}

}  // namespace qir::sys
