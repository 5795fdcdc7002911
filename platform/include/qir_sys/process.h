// Facts about the running process and thread.
#pragma once

#include <cstdint>
#include <string>

#include "qir_sys/wide.h"

namespace qir::sys {

uint32_t processId();

// Has `prepare` run in the forking thread just before every fork, and `parent` and `child` right
// after it in the parent and in the child, before fork returns there (POSIX; any may be null);
// nothing on Windows, which has no fork. Handlers registered later prepare earlier and resume
// later. A library that is unloaded takes its handlers with it.
void atFork(void (*prepare)(), void (*parent)(), void (*child)());
uint32_t threadId();
// Full path of the running executable as UTF-8, or empty when it cannot be read.
std::string executablePath();

// The running executable's file name, without its folder, as UTF-16 into `out`, which holds
// `capacity` units with the terminator; the path may have any length. Answers the name's length,
// or 0 when it cannot be read or does not fit.
uint32_t executableNameUtf16(WideUnit* out, uint32_t capacity);

}  // namespace qir::sys
