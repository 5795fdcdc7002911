// The three exports in one process against the scripted vendor, each report going through the
// library's own report into the log file the registry names for this program, read back whole.
#include <gtest/gtest.h>

#include <optional>

#include "alloc_seam.h"
#include "export_table.h"
#include "harness.h"
#include "param_name.h"
#include "qir_sys/error.h"
#include "scoped_locale.h"

namespace {

const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

using exports::Row;

// The exports' code against a fresh vendor scripted by the row; with `failAt`, the failAt-th
// allocation of each export call fails.
struct InProcess {
    explicit InProcess(const Row& row, uint64_t n = 0) : failAt(n) {
        harness.vendor.script = fake::parse(row.script);
        harness.vendor.leaveError = &qir::sys::setLastError;
        harness.vendor.failureError = exports::kErrorOfVendor;
        harness.forward = &velnor::reportExportFailure;
    }

    template <class Call>
    int32_t guarded(const Call& call) {
        std::optional<allocseam::Failing> failing;
        if (failAt != 0) {
            failing.emplace(failAt);
        }
        qir::sys::setLastError(exports::kErrorBefore);
        const int32_t result = call(harness.backend());
        fired = failing && failing->fired();
        return result;
    }

    exports::Exports exports() {
        using B = const velnor::Backend&;
        return {[this](uint8_t* p) {
                    return guarded([&](B b) { return velnor::getLaunchState(b, p); });
                },
                [this](uint8_t v) {
                    return guarded([&](B b) { return velnor::setLaunchState(b, v); });
                },
                [this](VelnorUtf16* p, int32_t n) {
                    return guarded([&](B b) { return velnor::getRegistryKey(b, p, n); });
                }};
    }

    fake::Harness harness;
    const uint64_t failAt;
    bool fired = false;
};

// One run checked whole, then a run for each allocation that can fail: whatever the heap
// refuses inside a report, the export answers, leaves the memory and calls the vendor as it
// did. Without `codeKnown` the record's return code is whatever the failing step left.
void check(const Row& row, bool codeKnown = true) {
    const auto lines = [&](std::vector<std::string> l) {
        return codeKnown ? l : exports::masked(l);
    };
    const auto expected = std::make_pair(row.result, exports::expectedMemory(row));
    InProcess once(row);
    const size_t mark = LogCapture::text().size();
    EXPECT_EQ(exports::run(once.exports(), row), expected);
    EXPECT_EQ(fake::trace(once.harness.vendor.calls), row.calls);
    EXPECT_EQ(lines(LogCapture::linesSince(mark)), lines(exports::expectedLines(row)));
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        InProcess refused(row, n);
        EXPECT_EQ(exports::run(refused.exports(), row), expected);
        EXPECT_EQ(fake::trace(refused.harness.vendor.calls), row.calls);
        if (!refused.fired) {
            EXPECT_TRUE(n > 1 || *row.log == '\0') << "a report that allocates nothing";
            break;
        }
        ASSERT_LT(n, 200u) << "the sweep does not end";
    }
}

class ExportTest : public testing::TestWithParam<Row> {};

TEST_P(ExportTest, AnswersCallsAndReports) {
    check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, ExportTest, testing::ValuesIn(exports::kRows), caseName<Row>);

// In a locale where one character takes several bytes, a key whose bytes join into fewer units
// or are not valid there (the conversion's own error then the record's return code) does not
// convert one unit per byte: no usable key.
TEST(ExportLocaleTest, KeyThatDoesNotConvertUnitForByteIsEmpty) {
    testlocale::ScopedLocale locale(testlocale::multiByteLocales());
    if (!locale.active()) {
        GTEST_SKIP() << "no multibyte locale in this C runtime";
    }
    const bool utf8 = locale.name().find("UTF-8") != std::string::npos;
    const char* const joined = utf8 ? "key=caf\xc3\xa9" : "key=a\x82\xa0";
    check({"Joined", "key 64", joined, 0, "C F D1 K R d a", "-", "37 - empty"});
    const char* const invalid = utf8 ? "key=k\xff" : "key=k\x82";
    check({"Invalid", "key 64", invalid, 0, "C F D1 K R d a", "-", "37 - empty"}, false);
}

// A failure point that an export does not have writes nothing, rather than a line with another
// export's wording.
TEST(ExportReportTest, PointsAnExportDoesNotHaveWriteNothing) {
    using velnor::Export;
    using velnor::FailurePoint;
    const size_t mark = LogCapture::text().size();
    for (const velnor::Failure& failure :
         {velnor::Failure{Export::GetTouchpadLaunchState, FailurePoint::Persist, 1, 0},
          velnor::Failure{Export::GetTouchpadLaunchState, FailurePoint::TooSmall, 1, 2},
          velnor::Failure{Export::SetTouchpadLaunchState, FailurePoint::StateQuery, 1, 0},
          velnor::Failure{Export::SetTouchpadLaunchState, FailurePoint::NullState, 0, 0},
          velnor::Failure{Export::GetTouchpadRegistryKey, FailurePoint::NotSupported, 0, 0},
          velnor::Failure{Export::GetTouchpadRegistryKey, FailurePoint::Exception, 0, 0}}) {
        velnor::reportExportFailure(failure);
    }
    EXPECT_EQ(LogCapture::linesSince(mark), std::vector<std::string>{});
}

}  // namespace
