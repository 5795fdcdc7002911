#include <climits>
#include <cstdlib>

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

}  // namespace qir::sys
