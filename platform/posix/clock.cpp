#include "qir_sys/clock.h"

#include <pthread.h>

#include <ctime>

namespace qir::sys {

namespace {

pthread_mutex_t g_reading = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

bool localTime(LocalTime& out) {
    const time_t now = time(nullptr);
    tm parts{};
    pthread_mutex_lock(&g_reading);
    const bool read = now != static_cast<time_t>(-1) && localtime_r(&now, &parts) != nullptr;
    pthread_mutex_unlock(&g_reading);
    if (!read) {
        return false;
    }
    out = LocalTime{parts.tm_year + 1900, parts.tm_mon, parts.tm_mday, parts.tm_wday,
                    parts.tm_hour,        parts.tm_min, parts.tm_sec};
    return true;
}

void holdLocalTime() {
    pthread_mutex_lock(&g_reading);
}

// The child's one thread is the one that holds it, under another thread id: made anew.
void releaseLocalTime(bool inChild) {
    if (inChild) {
        pthread_mutex_init(&g_reading, nullptr);
    } else {
        pthread_mutex_unlock(&g_reading);
    }
}

}  // namespace qir::sys
