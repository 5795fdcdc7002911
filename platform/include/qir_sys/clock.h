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

// The current local time; false when the C runtime cannot give it. It is read under a lock of
// this facility, which a fork must hold (POSIX: glibc does not free its own time-zone lock in a
// child, and a reading that a fork split would leave it held there for ever).
bool localTime(LocalTime& out);

// For the library's fork handlers: holdLocalTime waits for the readings in progress and keeps
// others out; releaseLocalTime lets them in again, in the parent or (`inChild`) in the child.
// Nothing on Windows.
void holdLocalTime();
void releaseLocalTime(bool inChild);

}  // namespace qir::sys
