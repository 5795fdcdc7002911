// Between UTF-16 text and UTF-8: for printing, and for names given on the command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "VelnorApi.h"

// The units up to the first zero unit (or `count` of them) as UTF-8; a lone surrogate becomes
// U+FFFD.
std::string utf16ToUtf8(const VelnorUtf16* text, size_t count);

// UTF-8 text as UTF-16 units with a terminating zero; a byte sequence that is not UTF-8
// becomes U+FFFD.
std::vector<VelnorUtf16> utf8ToUtf16(const std::string& text);
