// Reports from a program for which no logging is configured: the first finds the logger not
// ready; later ones pass through a logger without entries without building a record. Nothing
// is written and the failure site carries on either way.
#include <gtest/gtest.h>

#include "alloc_seam.h"
#include "qir_log.h"
#include "qir_logger.h"

namespace {

TEST(UnconfiguredReportTest, FirstReportIsDroppedLaterOnesBuildNothing) {
    const CQIRLogStringWChar text("nobody listens");
    const auto report = [&text] {
        return CQIRLogError().log(text, text, text, text, 1, 0, nullptr, 0);
    };
    EXPECT_FALSE(report());
    allocseam::Counting counting;
    EXPECT_TRUE(report());
    EXPECT_EQ(counting.requests(), 0u);
    EXPECT_EQ(qirLibrary().logger.getEntryCount(), 0u);
    EXPECT_NE(qirLibrary().applicationName.length(), 0u);
}

}  // namespace
