// The report classes end to end: each report travels through the library-wide logger, set up
// from the registry for this program, and arrives as one exact line in the configured file.
#include <gtest/gtest.h>

#include "log_capture.h"
#include "log_text.h"
#include "qir_log.h"
#include "qir_logger.h"

namespace {

using logtext::w;

const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

TEST(ReportTest, EachClassWritesItsSeverityAndMessage) {
    const CQIRLogStringWChar task = w("Alloc"), name = w("m_p"), function = w("K<char>::alloc"),
                             file = w("/src/core\\qir_buffer.h");
    uint32_t code = 0;
    // The report, made with its leading arguments and a new code and line, appends this line.
    const auto check = [&](const char* severity, const std::string& message, auto report,
                           auto... leading) {
        const size_t mark = LogCapture::text().size();
        const uint32_t line = ++code;
        EXPECT_TRUE(report.log(leading..., task, function, file, line, line, nullptr, 0));
        EXPECT_EQ(LogCapture::linesSince(mark),
                  std::vector<std::string>{LogCapture::expectedLine(
                      severity, "K<char>::alloc", message, "Alloc", line, "qir_buffer.h", line)});
    };
    check("ERROR", "e", CQIRLogError(), w("e"));
    check("EXCEPTION", "x", CQIRLogException(), w("x"));
    check("WARNING", "w", CQIRLogWarning(), w("w"));
    check("SUCCESS", "s", CQIRLog(), QIR_LOG_SUCCESS, w("s"));
    check("EXCEPTION", "Unable to allocate memory ( m_p ) of size ( 4096 )",
          CQIRLogExceptionMemoryAlloc(), name, 4096u);
    check("EXCEPTION", "memcpy( ) function failed.", CQIRLogExceptionMemoryCopy());
    check("WARNING", "Unable to free memory ( m_p ) ", CQIRLogWarningMemoryDestroy(), name);
    check("EXCEPTION", "A bad argument was provided ( m_p ). Too far.", CQIRLogExceptionBadArg(),
          name, w("Too far."));
    EXPECT_EQ(qirLibrary().processId, qir::sys::processId());
    EXPECT_EQ(logtext::ascii(qirLibrary().applicationName), LogCapture::programName());
}

}  // namespace
