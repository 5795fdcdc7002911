#include "qir_sys/clock.h"

#include <ctime>

namespace qir::sys {

bool localTime(LocalTime& out) {
    const time_t now = time(nullptr);
    tm parts{};
    if (now == static_cast<time_t>(-1) || localtime_r(&now, &parts) == nullptr) {
        return false;
    }
    out = LocalTime{parts.tm_year + 1900, parts.tm_mon, parts.tm_mday, parts.tm_wday,
                    parts.tm_hour,        parts.tm_min, parts.tm_sec};
    return true;
}

}  // namespace qir::sys
