#include "qir_sys/error.h"

#include <cerrno>

namespace qir::sys {

uint32_t lastError() {
    return static_cast<uint32_t>(errno);
}

void setLastError(uint32_t value) {
    errno = static_cast<int>(value);
}

}  // namespace qir::sys
