// The local time, broken down.
#pragma once

namespace qir::sys {

struct LocalTime {
    int year;     // e.g. 2026
    int month;    // 0 = January
    int day;      // 1 to 31
    int weekday;  // 0 = Sunday
    int hour;
    int minute;
    int second;
};

// The current local time; false when the C runtime cannot give it.
bool localTime(LocalTime& out);

}  // namespace qir::sys
