// The report classes end to end: a report travels through the library-wide logger, set up
// from the registry for this program, and arrives as one exact line in the configured file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_capture.h"
#include "log_text.h"
#include "qir_log.h"
#include "qir_logger.h"
#include "qir_sys/process.h"

namespace {

using logtext::w;

const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

// Runs `report`, which must succeed, and answers the one line it appended.
template <class Report>
std::string lineOf(Report report) {
    const size_t mark = LogCapture::text().size();
    EXPECT_TRUE(report());
    const std::vector<std::string> lines = LogCapture::linesSince(mark);
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? std::string() : lines.front();
}

const CQIRLogStringWChar kTask = w("MemoryAllocation");
const CQIRLogStringWChar kFunction = w("CQIRBuffer<unsigned char>::alloc");
const CQIRLogStringWChar kFile = w("C:\\build\\core\\include\\qir_buffer.h");
const std::string kObjectFunction = "CQIRBuffer<unsigned char>::alloc";

std::string expected(const std::string& severity, const std::string& message, uint32_t code,
                     uint32_t line) {
    return LogCapture::expectedLine(severity, kObjectFunction, message, "MemoryAllocation", code,
                                    "qir_buffer.h", line);
}

TEST(ReportTest, ErrorExceptionWarningAndPlainLog) {
    EXPECT_EQ(lineOf([] {
                  return CQIRLogError().log(w("plain error"), kTask, kFunction, kFile, 10, 5,
                                            nullptr, 0);
              }),
              expected("ERROR", "plain error", 5, 10));
    EXPECT_EQ(lineOf([] {
                  return CQIRLogException().log(w("thrown"), kTask, kFunction, kFile, 11, 0,
                                                nullptr, 0);
              }),
              expected("EXCEPTION", "thrown", 0, 11));
    EXPECT_EQ(lineOf([] {
                  return CQIRLogWarning().log(w("careful"), kTask, kFunction, kFile, 12, 8, nullptr,
                                              0);
              }),
              expected("WARNING", "careful", 8, 12));
    EXPECT_EQ(lineOf([] {
                  return CQIRLog().log(64, w("went well"), kTask, kFunction, kFile, 13, 0, nullptr,
                                       0);
              }),
              expected("SUCCESS", "went well", 0, 13));
}

TEST(ReportTest, ComposedMessages) {
    EXPECT_EQ(
        lineOf([] {
            return CQIRLogExceptionMemoryAlloc().log(w("m_pBuffer"), 4096, kTask, kFunction, kFile,
                                                     20, 8, nullptr, 0);
        }),
        expected("EXCEPTION", "Unable to allocate memory ( m_pBuffer ) of size ( 4096 )", 8, 20));
    EXPECT_EQ(
        lineOf([] {
            return CQIRLogExceptionMemoryAlloc().log(w("m_pBuffer"), 0, kTask, kFunction, kFile, 21,
                                                     0, nullptr, 0);
        }),
        expected("EXCEPTION", "Unable to allocate memory ( m_pBuffer ) of size ( 0 )", 0, 21));
    EXPECT_EQ(lineOf([] {
                  return CQIRLogExceptionMemoryCopy().log(kTask, kFunction, kFile, 22, 0, nullptr,
                                                          0);
              }),
              expected("EXCEPTION", "memcpy( ) function failed.", 0, 22));
    EXPECT_EQ(lineOf([] {
                  return CQIRLogWarningMemoryDestroy().log(w("m_pBuffer"), kTask, kFunction, kFile,
                                                           23, 0, nullptr, 0);
              }),
              expected("WARNING", "Unable to free memory ( m_pBuffer ) ", 0, 23));
    EXPECT_EQ(lineOf([] {
                  return CQIRLogExceptionBadArg().log(w("ulOffset"), w("Offset beyond the end."),
                                                      kTask, kFunction, kFile, 24, 87, nullptr, 0);
              }),
              expected("EXCEPTION",
                       "A bad argument was provided ( ulOffset ). Offset beyond the end.", 87, 24));
}

TEST(ReportTest, TheLibraryObjectsCarryTheProcessAndTheProgram) {
    EXPECT_TRUE(qirLibrary().logger.ensureInitialized());
    EXPECT_EQ(qirLibrary().processId, qir::sys::processId());
    EXPECT_EQ(logtext::ascii(qirLibrary().applicationName), LogCapture::programName());
    EXPECT_EQ(qirLibrary().logger.getEntryCount(), 1u);
}

}  // namespace
