#include "qir_sys/clock.h"

#include <time.h>

namespace qir::sys {

bool localTime(LocalTime& out) {
    const __time64_t now = _time64(nullptr);
    tm parts{};
    if (now == -1 || _localtime64_s(&parts, &now) != 0) {
        return false;
    }
    out = LocalTime{parts.tm_year + 1900, parts.tm_mon, parts.tm_mday, parts.tm_wday,
                    parts.tm_hour,        parts.tm_min, parts.tm_sec};
    return true;
}

void holdLocalTime() {}

void releaseLocalTime(bool) {}

}  // namespace qir::sys
