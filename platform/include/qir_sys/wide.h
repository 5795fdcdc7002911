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

}  // namespace qir::sys
