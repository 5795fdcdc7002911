// Reports from a program for which no logging is configured: the first finds the logger not
// ready, and the set-up is not tried again; later ones pass through a logger without entries
// without building a record. Nothing is written and the failure site carries on either way.
#include <gtest/gtest.h>

#include "alloc_seam.h"
#include "qir_library.h"
#include "qir_log.h"

namespace {

TEST(UnconfiguredReportTest, FirstReportIsDroppedLaterOnesBuildNothing) {
    const CQIRLogStringWChar text("nobody listens");
    EXPECT_FALSE(CQIRLogError().log(text, text, text, text, 1, 0, nullptr, 0));
    allocseam::Counting counting;
    EXPECT_TRUE(CQIRLogError().log(text, text, text, text, 1, 0, nullptr, 0));
    EXPECT_EQ(counting.requests(), 0u);
    EXPECT_TRUE(qirLibrary().logger.getEntryCount() == 0 &&
                !qirLibrary().applicationName.isEmpty());
}

}  // namespace
