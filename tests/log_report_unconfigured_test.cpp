// Reports from a program for which no logging is configured: the first finds the logger not
// ready and builds no record; later ones pass through a logger without entries. Nothing is
// written and the failure site carries on either way.
#include <gtest/gtest.h>

#include <string>

#include "qir_log.h"
#include "qir_logger.h"

namespace {

CQIRLogStringWChar w(const char* text) {
    return CQIRLogStringWChar(text);
}

bool report() {
    return CQIRLogError().log(w("nobody listens"), w("Read"), w("CQIRBuffer<char>::read"),
                              w("qir_buffer.h"), 1, 0, nullptr, 0);
}

TEST(UnconfiguredReportTest, FirstReportIsDroppedLaterOnesFindNoEntries) {
    EXPECT_FALSE(report());
    EXPECT_TRUE(report());
    EXPECT_EQ(qirLibrary().logger.getEntryCount(), 0u);
    EXPECT_NE(qirLibrary().applicationName.length(), 0u);
}

}  // namespace
