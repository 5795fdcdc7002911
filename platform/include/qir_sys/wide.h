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

// Converts zero-terminated 8-bit text in the current locale to UTF-16, as mbstowcs does, the
// whole text at once (ASCII runs copied as they are).
// With `out` null: answers the units of the whole text without its terminator. Otherwise
// writes at most `capacity` units (never half a surrogate pair), then the terminator if it
// fits, and answers the units written without the terminator. kConversionFailed for text
// that is not valid in the locale.
size_t multiByteToUtf16(const char* text, WideUnit* out, size_t capacity);

// UTF-16 text to 8-bit text in the current locale, as wcstombs does: converts the characters
// before the terminator, never writes part of a character or more than `capacity` bytes, then
// the terminator if it fits, and answers the bytes written without it (with `out` null: the
// bytes the whole text takes). kConversionFailed when a character has no 8-bit form here; the
// bytes of the characters before it stay written.
size_t utf16ToMultiByte(const WideUnit* text, char* out, size_t capacity);
// The same for a caller that knows the text's length: `text` holds `length` units and a zero
// unit after them.
size_t utf16ToMultiByte(const WideUnit* text, size_t length, char* out, size_t capacity);

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
