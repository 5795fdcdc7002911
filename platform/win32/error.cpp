#include "qir_sys/error.h"
#include "qir_win32.h"

namespace qir::sys {

uint32_t lastError() {
    return GetLastError();
}

void setLastError(uint32_t value) {
    SetLastError(value);
}

}  // namespace qir::sys
