#include "text.h"

#include "qir_sys/unicode.h"

std::string utf16ToUtf8(const VelnorUtf16* text, size_t count) {
    std::string out;
    qir::sys::utf16ToUtf8(text, count, out, true);
    return out;
}

std::vector<VelnorUtf16> utf8ToUtf16(const std::string& text) {
    std::basic_string<VelnorUtf16> units;
    qir::sys::utf8ToUtf16(text.data(), text.size(), units);
    std::vector<VelnorUtf16> out(units.begin(), units.end());
    out.push_back(0);
    return out;
}
