// UTF-16 text: the wide element type, conversions between it and 8-bit text in the C
// runtime's current locale, and the C runtime's text functions that need the platform's own
// wide characters (case-insensitive comparison, number parsing).
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

// UTF-16 text to 8-bit text in the current locale, as wcstombs does: converts the characters
// before the terminator, never writes part of a character or more than `capacity` bytes, then
// the terminator if it fits, and answers the bytes written without it (with `out` null: the
// bytes the whole text takes). kConversionFailed when a character has no 8-bit form here; the
// bytes of the characters before it stay written.
size_t utf16ToMultiByte(const WideUnit* text, char* out, size_t capacity);

// Compares at most `count` elements of two texts, ignoring case in the current locale, as
// _strnicmp and _wcsnicmp do: negative, zero or positive. Neither text is read past its first
// zero element or past `count` elements.
int compareNoCase(const char* a, const char* b, size_t count);
int compareNoCase(const WideUnit* a, const WideUnit* b, size_t count);

// Zero-terminated UTF-16 text parsed as wcstod and wcstol (with `radix`) do, errno included.
// False only when the text could not be handed to the C runtime for want of memory; `value`
// and errno are then untouched.
bool utf16ToDouble(const WideUnit* text, double& value);
bool utf16ToLong(const WideUnit* text, int radix, long& value);

}  // namespace qir::sys
