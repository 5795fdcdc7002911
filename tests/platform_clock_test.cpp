// The local time, against the C runtime's own reading of the same second.
#include <gtest/gtest.h>

#include <ctime>

#include "qir_sys/clock.h"

namespace {

using qir::sys::LocalTime;
using qir::sys::localTime;

TEST(ClockTest, LocalTimeIsTheCRuntimesLocalTime) {
    // Read the C runtime's time before and after; retry when the second changed in between.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        LocalTime now{};
        ASSERT_TRUE(localTime(now));
        if (std::time(nullptr) != before) {
            continue;
        }
        const std::tm expected = *std::localtime(&before);
        EXPECT_EQ(now.year, expected.tm_year + 1900);
        EXPECT_EQ(now.month, expected.tm_mon);
        EXPECT_EQ(now.day, expected.tm_mday);
        EXPECT_EQ(now.weekday, expected.tm_wday);
        EXPECT_EQ(now.hour, expected.tm_hour);
        EXPECT_EQ(now.minute, expected.tm_min);
        EXPECT_EQ(now.second, expected.tm_sec);

        EXPECT_GE(now.year, 2024);
        EXPECT_TRUE(now.month >= 0 && now.month <= 11) << now.month;
        EXPECT_TRUE(now.day >= 1 && now.day <= 31) << now.day;
        EXPECT_TRUE(now.weekday >= 0 && now.weekday <= 6) << now.weekday;
        EXPECT_TRUE(now.hour >= 0 && now.hour <= 23) << now.hour;
        EXPECT_TRUE(now.minute >= 0 && now.minute <= 59) << now.minute;
        EXPECT_TRUE(now.second >= 0 && now.second <= 60) << now.second;
        return;
    }
    FAIL() << "the second changed during every reading";
}

}  // namespace
