// Facts about the running process and thread.
#pragma once

#include <cstdint>
#include <string>

#include "qir_sys/wide.h"

namespace qir::sys {

uint32_t processId();
uint32_t threadId();
// Full path of the running executable as UTF-8, or empty when it cannot be read.
std::string executablePath();
// The same path as UTF-16 into `out`, which holds `capacity` units with the terminator.
// Answers its length, or 0 when it cannot be read or does not fit.
uint32_t executablePathUtf16(WideUnit* out, uint32_t capacity);

}  // namespace qir::sys
