// UTF-16 text: the wide element type and conversion from 8-bit text in the C runtime's
// current locale.
#pragma once

#include <cstddef>

namespace qir::sys {

#if defined(_WIN32)
using WideUnit = wchar_t;
#define QIR_SYS_W(text) L##text
#else
using WideUnit = char16_t;
#define QIR_SYS_W(text) u##text
#endif

constexpr size_t kConversionFailed = static_cast<size_t>(-1);

// Converts zero-terminated 8-bit text in the current locale to UTF-16, as mbstowcs does.
// With `out` null: answers the units of the whole text without its terminator. Otherwise
// writes at most `capacity` units (never half a surrogate pair), then the terminator if it
// fits, and answers the units written without the terminator. kConversionFailed for text
// that is not valid in the locale.
size_t multiByteToUtf16(const char* text, WideUnit* out, size_t capacity);

// One character of 8-bit text in the current locale, as mbtowc reads it from at most
// `available` bytes: its UTF-16 units go to `units` (one, or a surrogate pair) and their
// number to `count`. Answers the bytes the character took, 0 at a terminating zero byte (one
// zero unit stored), or -1 for an invalid or incomplete character.
int multiByteCharToUtf16(const char* text, size_t available, WideUnit (&units)[2], size_t& count);

// One character of UTF-16 text to 8-bit text in the current locale, as wctomb writes it:
// `text` holds `available` units, of which a surrogate pair is taken as one character where the
// platform's wide characters can hold it. Writes at most kMaxMultiByteChar bytes, answers their
// number and sets `used` to the units taken; -1 when the character has no 8-bit form here.
constexpr size_t kMaxMultiByteChar = 16;
int utf16CharToMultiByte(const WideUnit* text, size_t available, char (&bytes)[kMaxMultiByteChar],
                         size_t& used);

}  // namespace qir::sys
