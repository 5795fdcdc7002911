#include "text.h"

#include <cstdint>

#include "qir_sys/utf8.h"

std::string utf16ToUtf8(const VelnorUtf16* text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count && text[i] != 0; ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        qir::sys::appendUtf8(out, (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
    }
    return out;
}

std::vector<VelnorUtf16> utf8ToUtf16(const std::string& text) {
    std::vector<VelnorUtf16> out;
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        const size_t length = qir::sys::decodeUtf8(text.data() + i, text.size() - i, c);
        // Overlong forms are not UTF-8 either.
        static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (length == 0 || c < kSmallest[length]) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<VelnorUtf16>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<VelnorUtf16>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<VelnorUtf16>(c));
        }
        i += length;
    }
    out.push_back(0);
    return out;
}
