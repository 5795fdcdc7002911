// UTF-16 text as UTF-8, for printing.
#pragma once

#include <cstddef>
#include <string>

#include "VelnorApi.h"

// The units up to the first zero unit (or `count` of them) as UTF-8; a lone surrogate becomes
// U+FFFD.
std::string utf16ToUtf8(const VelnorUtf16* text, size_t count);
