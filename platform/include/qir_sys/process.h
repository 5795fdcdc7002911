// Facts about the running process and thread.
#pragma once

#include <cstdint>
#include <string>

#include "qir_sys/wide.h"

namespace qir::sys {

uint32_t processId();

// Has `handler` run in the child process right after every fork, before fork returns there
// (POSIX); nothing on Windows, which has no fork. A library that is unloaded takes its handler
// with it.
void atForkChild(void (*handler)());
uint32_t threadId();
// Full path of the running executable as UTF-8, or empty when it cannot be read.
std::string executablePath();

// The running executable's file name, without its folder, as UTF-16 into `out`, which holds
// `capacity` units with the terminator; the path may have any length. Answers the name's length,
// or 0 when it cannot be read or does not fit.
uint32_t executableNameUtf16(WideUnit* out, uint32_t capacity);

}  // namespace qir::sys
