// The whole-text half of the codec. ASCII, the bulk of every log text, is taken sixteen bytes
// at a time with SSE2, which every x86-64 processor has; a block that runs past the end of a
// text of at least one block is taken again as the last whole block before the end, so that no
// text of that size is left to a loop of single elements. Elsewhere the plain loops do it.
#include "qir_sys/unicode.h"

#include <initializer_list>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define QIR_CODEC_SSE2 1
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif
#endif

namespace qir::sys {

#ifdef QIR_CODEC_SSE2
namespace {

__m128i load(const void* at) {
    return _mm_loadu_si128(static_cast<const __m128i*>(at));
}

// The index of the lowest set bit of a non-zero mask.
unsigned lowestBit(unsigned mask) {
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long index = 0;
    _BitScanForward(&index, mask);
    return static_cast<unsigned>(index);
#else
    return static_cast<unsigned>(__builtin_ctz(mask));
#endif
}

// Two mask bits per unit of eight, set for the units below 0x80 (or equal to zero).
unsigned asciiUnits(__m128i units) {
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, high), _mm_setzero_si128())));
}

unsigned zeroUnits(__m128i units) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, _mm_setzero_si128())));
}

// Two mask bits per unit of eight, set for the units of ASCII text: 1 to 0x7F. Moved up by
// 0x7FFF, exactly those units become the signed values below -32641 (0x807F).
unsigned textUnits(__m128i units) {
    const __m128i moved = _mm_add_epi16(units, _mm_set1_epi16(0x7FFF));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmplt_epi16(moved, _mm_set1_epi16(static_cast<short>(0x807F)))));
}

// Where among the eight units at `i` the first one outside ASCII is, counted from the text's
// start, or nothing when all eight are ASCII. `block` gives the mask of eight units.
template <class Mask>
bool firstOutside(const WideUnit* text, size_t i, Mask block, size_t& at) {
    const unsigned inside = block(load(text + i));
    if (inside == 0xFFFF) {
        return false;
    }
    at = i + lowestBit(~inside & 0xFFFF) / 2;
    return true;
}

// The index of the first unit of `text` (count >= 8) for which `block`'s bits are clear, or
// `count`, with `store` called for each block of eight units read at i, the last one possibly
// overlapping the one before.
template <class Mask, class Store>
size_t scanUnits(const WideUnit* text, size_t count, Mask block, Store store) {
    size_t at = count;
    size_t i = 0;
    // Thirty-two units a step while all of them pass, then eight.
    for (; count - i >= 32; i += 32) {
        store(i);
        store(i + 8);
        store(i + 16);
        store(i + 24);
        if ((block(load(text + i)) & block(load(text + i + 8)) & block(load(text + i + 16)) &
             block(load(text + i + 24))) != 0xFFFF) {
            break;
        }
    }
    for (; count - i >= 8; i += 8) {
        store(i);
        if (firstOutside(text, i, block, at)) {
            return at;
        }
    }
    if (i < count) {
        store(count - 8);
        firstOutside(text, count - 8, block, at);
    }
    return at;
}

}  // namespace
#endif

size_t asciiPrefix(const WideUnit* text, size_t count) {
#ifdef QIR_CODEC_SSE2
    if (count >= 8) {
        return scanUnits(text, count, asciiUnits, [](size_t) {});
    }
#endif
    size_t i = 0;
    while (i < count && static_cast<uint16_t>(text[i]) < 0x80) {
        ++i;
    }
    return i;
}

namespace {

// The index of the first byte outside ASCII (with `stopAtZero`, the first zero byte too) among
// the first `count`, or `count`.
template <bool stopAtZero>
size_t scanBytes(const char* text, size_t count) {
#ifdef QIR_CODEC_SSE2
    const auto outside = [](__m128i bytes) {
        if constexpr (stopAtZero) {
            bytes = _mm_or_si128(bytes, _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
        }
        return static_cast<unsigned>(_mm_movemask_epi8(bytes));
    };
    // Sixteen bytes a step, the last sixteen taken again (the bytes before them passed); a text
    // of eight to fifteen bytes as its first eight and its last eight.
    if (count >= 16) {
        size_t i = 0;
        for (; count - i >= 16; i += 16) {
            if (const unsigned mask = outside(load(text + i)); mask != 0) {
                return i + lowestBit(mask);
            }
        }
        const unsigned mask = i < count ? outside(load(text + count - 16)) : 0;
        return mask != 0 ? count - 16 + lowestBit(mask) : count;
    }
    if (count >= 8) {
        for (const size_t i : {size_t{0}, count - 8}) {
            // The upper half of the register is zeros, which are no bytes of the text.
            const unsigned mask =
                outside(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(text + i))) & 0xFF;
            if (mask != 0) {
                return i + lowestBit(mask);
            }
        }
        return count;
    }
#endif
    size_t i = 0;
    while (i < count && static_cast<unsigned char>(text[i]) < 0x80 &&
           (!stopAtZero || text[i] != 0)) {
        ++i;
    }
    return i;
}

}  // namespace

size_t asciiPrefix(const char* text, size_t count) {
    return scanBytes<false>(text, count);
}

size_t asciiTextLength(const char* text, size_t count) {
    const size_t at = scanBytes<true>(text, count);
    return at == count || text[at] == 0 ? at : kNotAscii;
}

size_t asciiTextLength(const WideUnit* text, size_t count) {
    size_t at = 0;
#ifdef QIR_CODEC_SSE2
    if (count >= 8) {
        at = scanUnits(text, count, textUnits, [](size_t) {});
    }
#endif
    while (at < count && text[at] != 0 && static_cast<uint16_t>(text[at]) < 0x80) {
        ++at;
    }
    return at == count || text[at] == 0 ? at : kNotAscii;
}

size_t narrowAsciiPrefix(const WideUnit* text, size_t count, char* out) {
#ifdef QIR_CODEC_SSE2
    if (count >= 8) {
        return scanUnits(text, count, asciiUnits, [&](size_t i) {
            const __m128i units = load(text + i);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(units, units));
        });
    }
#endif
    size_t i = 0;
    for (; i < count && static_cast<uint16_t>(text[i]) < 0x80; ++i) {
        out[i] = static_cast<char>(text[i]);
    }
    return i;
}

void narrowAscii(const WideUnit* text, size_t count, char* out) {
#ifdef QIR_CODEC_SSE2
    if (count >= 8) {
        const auto put = [&](size_t i) {
            const __m128i units = load(text + i);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(units, units));
        };
        size_t i = 0;
        for (; count - i >= 16; i += 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm_packus_epi16(load(text + i), load(text + i + 8)));
        }
        for (; count - i >= 8; i += 8) {
            put(i);
        }
        put(count - 8);
        return;
    }
#endif
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<char>(text[i]);
    }
}

void widenAscii(const char* text, size_t count, WideUnit* out) {
#ifdef QIR_CODEC_SSE2
    if (count >= 8) {
        const auto put = [&](size_t i) {
            const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(text + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm_unpacklo_epi8(bytes, _mm_setzero_si128()));
        };
        size_t i = 0;
        for (; count - i >= 16; i += 16) {
            const __m128i bytes = load(text + i);
            auto* to = reinterpret_cast<__m128i*>(out + i);
            _mm_storeu_si128(to, _mm_unpacklo_epi8(bytes, _mm_setzero_si128()));
            _mm_storeu_si128(to + 1, _mm_unpackhi_epi8(bytes, _mm_setzero_si128()));
        }
        for (; count - i >= 8; i += 8) {
            put(i);
        }
        put(count - 8);
        return;
    }
#endif
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<WideUnit>(static_cast<unsigned char>(text[i]));
    }
}

size_t zeroIndex(const WideUnit* text, size_t count) {
#ifdef QIR_CODEC_SSE2
    if (count >= 8) {
        // The mask of units that are not zero, so that the scan stops at a zero.
        return scanUnits(
            text, count, [](__m128i units) { return ~zeroUnits(units) & 0xFFFF; }, [](size_t) {});
    }
#endif
    size_t i = 0;
    while (i < count && text[i] != 0) {
        ++i;
    }
    return i;
}

bool utf16ToUtf8(const WideUnit* text, size_t count, std::string& out, bool replaceUnpaired) {
    const size_t end = zeroIndex(text, count);
    size_t i = 0;
    while (i < end) {
        const size_t at = out.size();
        out.resize(at + (end - i));
        const size_t ascii = narrowAsciiPrefix(text + i, end - i, &out[at]);
        out.resize(at + ascii);
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
