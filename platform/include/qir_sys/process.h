// Facts about the running process and thread.
#pragma once

#include <cstdint>
#include <string>

namespace qir::sys {

uint32_t processId();
uint32_t threadId();
// Full path of the running executable as UTF-8, or empty when it cannot be read.
std::string executablePath();

}  // namespace qir::sys
