// The whole-text half of the codec. Its loops are plain ones that the compiler turns into
// vector code (the build asks for that for this file), so that ASCII, the bulk of every log text,
// costs about what a copy costs.
#include "qir_sys/unicode.h"

namespace qir::sys {

size_t asciiPrefix(const WideUnit* text, size_t count) {
    size_t i = 0;
    for (; count - i >= 16; i += 16) {
        uint16_t seen = 0;
        for (size_t k = 0; k < 16; ++k) {
            seen |= static_cast<uint16_t>(text[i + k]);
        }
        if (seen >= 0x80) {
            break;
        }
    }
    while (i < count && static_cast<uint16_t>(text[i]) < 0x80) {
        ++i;
    }
    return i;
}

size_t asciiPrefix(const char* text, size_t count) {
    size_t i = 0;
    for (; count - i >= 32; i += 32) {
        unsigned char seen = 0;
        for (size_t k = 0; k < 32; ++k) {
            seen |= static_cast<unsigned char>(text[i + k]);
        }
        if (seen >= 0x80) {
            break;
        }
    }
    while (i < count && static_cast<unsigned char>(text[i]) < 0x80) {
        ++i;
    }
    return i;
}

void narrowAscii(const WideUnit* text, size_t count, char* out) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<char>(text[i]);
    }
}

void widenAscii(const char* text, size_t count, WideUnit* out) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<WideUnit>(static_cast<unsigned char>(text[i]));
    }
}

bool utf16ToUtf8(const WideUnit* text, size_t count, std::string& out, bool replaceUnpaired) {
    size_t end = 0;
    while (end < count && text[end] != 0) {
        ++end;
    }
    size_t i = 0;
    while (i < end) {
        const size_t ascii = asciiPrefix(text + i, end - i);
        const size_t at = out.size();
        out.resize(at + ascii);
        narrowAscii(text + i, ascii, &out[at]);
        i += ascii;
        if (i == end) {
            break;
        }
        uint32_t value = 0;
        i += getUtf16(text + i, end - i, value);
        if (isSurrogate(value)) {
            if (!replaceUnpaired) {
                return false;
            }
            value = kReplacementCharacter;
        }
        appendUtf8(out, value);
    }
    return true;
}

void utf8ToUtf16(const char* text, size_t size, std::basic_string<WideUnit>& out) {
    out.reserve(out.size() + size);
    size_t i = 0;
    while (i < size) {
        const size_t ascii = asciiPrefix(text + i, size - i);
        const size_t at = out.size();
        out.resize(at + ascii);
        widenAscii(text + i, ascii, &out[at]);
        i += ascii;
        if (i == size) {
            break;
        }
        uint32_t value = 0;
        const size_t length = decodeUtf8(text + i, size - i, value);
        if (length == 0 || !isShortestUtf8(value, length)) {
            out.push_back(static_cast<WideUnit>(kReplacementCharacter));
            ++i;
            continue;
        }
        WideUnit units[2];
        putUtf16(value, units);
        out.append(units, utf16Length(value));
        i += length;
    }
}

}  // namespace qir::sys
