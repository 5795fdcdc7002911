// The three exports in one process against the scripted vendor, each report going through the
// library's own report into the log file the registry names for this program, read back whole.
#include "alloc_seam.h"
#include "export_table.h"
#include "harness.h"
#include "param_name.h"
#include "scoped_locale.h"

namespace {

const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

using exports::Row;

uint64_t g_failAt = 0;  // the allocation of each report that fails, 0 for none
bool g_fired = false;   // whether one did

void reportFailing(const velnor::Failure& failure) {
    if (g_failAt == 0) {
        return velnor::reportExportFailure(failure);
    }
    allocseam::Failing failing(g_failAt);
    velnor::reportExportFailure(failure);
    g_fired = g_fired || failing.fired();
}

// The row's call on the exports' code against a vendor scripted by the row: the outcome (see
// exports::run) and the record of calls.
std::pair<std::vector<std::pair<int32_t, std::string>>, std::string> inProcess(const Row& row) {
    fake::Harness h;
    h.vendor.script = fake::parse(row.script);
    h.vendor.leaveError = &qir::sys::setLastError;
    h.vendor.failureError = exports::kErrorOfVendor;
    h.forward = &reportFailing;
    const auto outcome = exports::run(
        {[&h](uint8_t* p) { return velnor::getLaunchState(h.backend(), p); },
         [&h](uint8_t v) { return velnor::setLaunchState(h.backend(), v); },
         [&h](VelnorUtf16* p, int32_t n) { return velnor::getRegistryKey(h.backend(), p, n); }},
        row);
    return {outcome, fake::trace(h.vendor.calls)};
}

// A run checked whole, then a run for each allocation of a report that can fail: whatever the
// heap refuses, the export answers, leaves the memory and calls the vendor as it did.
void check(const Row& row) {
    const size_t mark = LogCapture::mark();
    const auto once = inProcess(row);
    EXPECT_EQ(once.first[1], once.first[0]);
    EXPECT_EQ(once.second, row.calls);
    EXPECT_EQ(LogCapture::linesSince(mark), exports::expectedLines(row));
    for (g_failAt = 1, g_fired = true; g_fired && g_failAt < 200; ++g_failAt) {
        SCOPED_TRACE("allocation " + std::to_string(g_failAt) + " fails");
        g_fired = false;
        EXPECT_EQ(inProcess(row), once);
    }
    EXPECT_EQ(g_failAt > 2, *row.log != '\0') << "reports that allocate nothing";
    EXPECT_LT(g_failAt, 200u) << "the sweep does not end";
    g_failAt = 0;
}

class ExportTest : public testing::TestWithParam<Row> {};

TEST_P(ExportTest, AnswersCallsAndReports) {
    check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, ExportTest, testing::ValuesIn(exports::kRows), caseName<Row>);

// In a locale where one character takes several bytes, a key whose bytes join into fewer units
// does not convert one unit per byte: no usable key.
TEST(ExportLocaleTest, KeyThatDoesNotConvertUnitForByteIsEmpty) {
    testlocale::ScopedLocale locale(testlocale::multiByteLocales());
    if (!locale.active()) {
        GTEST_SKIP() << "no multibyte locale in this C runtime";
    }
    const bool utf8 = locale.name().find("UTF-8") != std::string::npos;
    check({"", "key 64", utf8 ? "key=caf\xc3\xa9" : "key=a\x82\xa0", 0, "C F D1 K R d a", "-",
           "37 - empty"});
}

// Of every failure point of every export, exactly the 22 that the exports have write a line: a
// point an export does not have writes nothing, rather than another export's wording.
TEST(ExportReportTest, PointsAnExportDoesNotHaveWriteNothing) {
    const size_t mark = LogCapture::mark();
    for (uint8_t i = 0; i < 3 * (uint8_t(velnor::FailurePoint::Exception) + 1); ++i) {
        velnor::reportExportFailure({velnor::Export(i % 3), velnor::FailurePoint(i / 3), 1, 2});
    }
    EXPECT_EQ(LogCapture::linesSince(mark).size(), 22u);
}

}  // namespace
