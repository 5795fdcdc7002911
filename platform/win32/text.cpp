#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

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

size_t multiByteToUtf16(const char* text, WideUnit* out, size_t capacity) {
    // wchar_t is one UTF-16 unit here, so the C runtime's conversion is the whole job.
    return std::mbstowcs(out, text, out != nullptr ? capacity : 0);
}

int multiByteCharToUtf16(const char* text, size_t available, WideUnit (&units)[2], size_t& count) {
    wchar_t unit = 0;
    const int used = std::mbtowc(&unit, text, available);
    if (used < 0) {
        return -1;
    }
    units[0] = unit;
    count = 1;
    return used;
}

int utf16CharToMultiByte(const WideUnit* text, size_t available, char (&bytes)[kMaxMultiByteChar],
                         size_t& used) {
    static_assert(kMaxMultiByteChar >= MB_LEN_MAX, "room for any character");
    if (available == 0) {
        return -1;
    }
    used = 1;
    return std::wctomb(bytes, text[0]);
}

size_t utf16ToMultiByte(const WideUnit* text, char* out, size_t capacity) {
    return std::wcstombs(out, text, out != nullptr ? capacity : 0);
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
