// The report classes end to end: a report travels through the library-wide logger, set up from
// the registry for this program, and arrives as one exact line in the configured file. (The
// buffers' and the exports' tests read the lines of the classes they report with.)
#include <gtest/gtest.h>

#include "log_capture.h"
#include "log_text.h"
#include "qir_library.h"
#include "qir_log.h"

namespace {

using logtext::w;

const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

TEST(ReportTest, EachClassWritesItsSeverityAndMessage) {
    const CQIRLogStringWChar name = w("m_p"), function = w("K<char>::destroy"),
                             file = w("/src/core\\qir_buffer.h");
    uint32_t line = 0;
    // The report, made with its leading arguments and a new code and line, appends this line.
    const auto check = [&](const char* severity, const std::string& message, auto report,
                           auto... leading) {
        const size_t mark = LogCapture::mark();
        ++line;
        EXPECT_TRUE(report.log(leading..., name, function, file, line, line, nullptr, 0));
        EXPECT_EQ(LogCapture::linesSince(mark),
                  std::vector<std::string>{LogCapture::expectedLine(
                      severity, "K<char>::destroy", message, "m_p", line, "qir_buffer.h", line)});
    };
    check("WARNING", "Unable to free memory ( m_p ) ", CQIRLogWarningMemoryDestroy(), name);
    check("EXCEPTION", "memcpy( ) function failed.", CQIRLogExceptionMemoryCopy());
    check("SUCCESS", "m_p", CQIRLog(), QIR_LOG_SUCCESS, name);
    EXPECT_EQ(qirLibrary().processId, qir::sys::processId());
    EXPECT_EQ(logtext::ascii(qirLibrary().applicationName), LogCapture::programName());
}

}  // namespace
