// The failure reports of the three exports, end to end in one process: the exports run
// against the scripted vendor, each failure point goes through the library's own report, and
// the test reads the one line it appended to the log file the registry names for this program.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "export_report.h"
#include "fake_vendor.h"
#include "log_capture.h"
#include "param_name.h"
#include "qir_sys/error.h"
#include "scoped_locale.h"
#include "touchpad.h"

namespace {

const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

using fake::Script;
using velnor::Backend;

constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
// The last-error value the thread has before the export runs, and the one a failing vendor
// call leaves behind.
constexpr uint32_t kErrorBefore = 0x2ee7;
constexpr uint32_t kErrorOfVendor = 0x0000051f;

// The exports' code against the scripted vendor, reporting through the library's own report.
struct ReportHarness {
    fake::Vendor vendor;

    ReportHarness() {
        vendor.calls.reserve(32);  // the record must not allocate while allocations fail
        vendor.leaveError = &qir::sys::setLastError;
        vendor.failureError = kErrorOfVendor;
    }

    Backend backend() { return Backend{this, &createApi, &report}; }

  private:
    static int32_t createApi(void* context, ISynAPI** ppApi) {
        return static_cast<ReportHarness*>(context)->vendor.createApi(ppApi);
    }
    static void report(void*, const velnor::Failure& failure) {
        velnor::reportExportFailure(failure);
    }
};

using ExportCall = std::function<int32_t(const Backend&)>;

int32_t getState(const Backend& backend) {
    unsigned char state = 0;
    return velnor::getLaunchState(backend, &state);
}
int32_t setOn(const Backend& backend) {
    return velnor::setLaunchState(backend, 1);
}
ExportCall key(int32_t capacity) {
    return [capacity](const Backend& backend) {
        qir_wchar_t buffer[300] = {};
        return velnor::getRegistryKey(backend, buffer, capacity);
    };
}

struct ReportCase {
    std::string name;
    std::string exportName;
    ExportCall call;
    std::function<void(Script&)> script;
    std::string message;
    uint32_t line;
    uint32_t returnCode;  // the last-error value the record carries
};

void PrintTo(const ReportCase& c, std::ostream* os) {
    *os << c.name;
}

const char* const kGet = "GetTouchpadLaunchState";
const char* const kSet = "SetTouchpadLaunchState";
const char* const kKey = "GetTouchpadRegistryKey";

// The failures every export shares up to its device object, with each export's lines.
std::vector<ReportCase> openingCases(const std::string& prefix, const std::string& exportName,
                                     const ExportCall& call, uint32_t createApi,
                                     uint32_t findDevice, uint32_t createDevice) {
    using namespace fake;
    return {
        {prefix + "CreateApi", exportName, call, [](Script& s) { s.code[kCreateApi] = kFail; },
         "could not create API object, hResult = 0x80004005", createApi, kErrorOfVendor},
        {prefix + "CreateApiWithoutObject", exportName, call, [](Script& s) { s.nullApi = true; },
         "could not create API object, hResult = 0x0", createApi, kErrorBefore},
        {prefix + "FindDevicePositive", exportName, call,
         [](Script& s) { s.code[kFindDevice] = 3; }, "could not find device, hResult = 0x3",
         findDevice, kErrorOfVendor},
        {prefix + "FindDeviceLeavesHandle", exportName, call,
         [](Script& s) { s.handleUntouched = true; }, "could not find device, hResult = 0x0",
         findDevice, kErrorBefore},
        {prefix + "CreateDevice", exportName, call,
         [](Script& s) { s.code[kCreateDevice] = static_cast<int32_t>(0x80070057); },
         "could not create device object, hResult = 0x80070057", createDevice, kErrorOfVendor},
        {prefix + "CreateDeviceWithoutObject", exportName, call,
         [](Script& s) { s.nullDevice = true; }, "could not create device object, hResult = 0x0",
         createDevice, kErrorBefore},
    };
}

std::vector<ReportCase> allCases() {
    using namespace fake;
    std::vector<ReportCase> cases;
    auto add = [&cases](std::vector<ReportCase> more) {
        cases.insert(cases.end(), more.begin(), more.end());
    };
    add(openingCases("Get", kGet, getState, 161, 154, 149));
    add(openingCases("Set", kSet, setOn, 248, 241, 236));
    add(openingCases("Key", kKey, key(300), 76, 68, 62));
    const auto fails = [](Op op) { return [op](Script& s) { s.code[op] = kFail; }; };
    const auto noGesture = [](Script& s) { s.hasGesture = 0; };
    add({
        {"GetGestureQuery", kGet, getState, fails(kGetGesture),
         "could not get property for SP_HasTwoFingerDoubleTap, hResult = 0x80004005", 142,
         kErrorOfVendor},
        {"GetNotSupported", kGet, getState, noGesture,
         "2FDT is not supported on this system, hResult = 0x0", 137, kErrorBefore},
        {"GetStateQuery", kGet, getState, fails(kGetState),
         "2FDT is supported but could not query the state, hResult = 0x80004005", 132,
         kErrorOfVendor},
        {"GetNullState", kGet, [](const Backend& b) { return velnor::getLaunchState(b, nullptr); },
         [](Script&) {}, "pbLaunchState is null", 166, kErrorBefore},
        {"SetGestureQuery", kSet, setOn, fails(kGetGesture),
         "could not get property for SP_HasTwoFingerDoubleTap, hResult = 0x80004005", 229,
         kErrorOfVendor},
        {"SetNotSupported", kSet, setOn, noGesture,
         "2FDT is not supported on this system, hResult = 0x0", 224, kErrorBefore},
        {"SetStateWrite", kSet, setOn, fails(kSetState),
         "could not set property for SP_TwoFingerDoubleTapState, hResult = 0x80004005", 219,
         kErrorOfVendor},
        {"SetPersist", kSet, setOn, [](Script& s) { s.code[kPersist] = 1; },
         "pSynAPI->PersistState() failed, hResult = 0x1", 214, kErrorOfVendor},
        {"SetException", kSet, setOn, [](Script& s) { s.throws[kPersist] = true; },
         "unhandled exception", 253, kErrorOfVendor},
        {"KeyQuery", kKey, key(300), fails(kGetKey),
         "could not get string property for the registry key (0x10000603), hResult = 0x80004005",
         54, kErrorOfVendor},
        {"KeyNullDestination", kKey,
         [](const Backend& b) { return velnor::getRegistryKey(b, nullptr, 10); }, [](Script&) {},
         "strRegistryKey is null", 81, kErrorBefore},
        {"KeySizeZero", kKey, key(300),
         [](Script& s) {
             s.setKey("K");
             s.keySize = 0;
         },
         "Source buffer lSize is <= 0, nothing to copy", 37, kErrorBefore},
        {"KeyEmptyText", kKey, key(300),
         [](Script& s) {
             s.setKey("");
             s.keySize = 8;
         },
         "Source buffer lSize is <= 0, nothing to copy", 37, kErrorBefore},
        {"KeyWithoutTerminator", kKey, key(300),
         [](Script& s) {
             for (unsigned char& byte : s.key) {
                 byte = 'k';
             }
             s.keyBytes = syn::kKeyBufferSize;
             s.keySize = 8;
         },
         "Source buffer lSize is <= 0, nothing to copy", 37, kErrorBefore},
        {"KeyTooSmall", kKey, key(16),
         [](Script& s) {
             s.setKey("SYSTEM\\Key");
             s.keySize = 0x20;
         },
         "Destination buffer strRegistryKey is too small, source lSize = 0x20, destination "
         "iCapacity = 0x10",
         42, kErrorBefore},
        {"KeyCapacityMinusOne", kKey, key(-1),
         [](Script& s) {
             s.setKey("SYSTEM\\Key");
             s.keySize = 11;
         },
         "Destination buffer strRegistryKey is too small, source lSize = 0xb, destination "
         "iCapacity = 0xffffffff",
         42, kErrorBefore},
        {"KeyLongerThanReported", kKey, key(8),
         [](Script& s) {
             s.setKey("SYSTEM\\Longer\\Key");
             s.keySize = 4;
         },
         "Destination buffer strRegistryKey is too small, source lSize = 0x4, destination "
         "iCapacity = 0x8",
         42, kErrorBefore},
    });
    return cases;
}

std::string expectedLine(const ReportCase& c) {
    return LogCapture::expectedLine("ERROR", "::" + c.exportName, c.message, c.exportName,
                                    c.returnCode, "VelnorApi", c.line);
}

class ExportReportTest : public testing::TestWithParam<ReportCase> {};

TEST_P(ExportReportTest, WritesExactlyItsLine) {
    const ReportCase& c = GetParam();
    ReportHarness harness;
    c.script(harness.vendor.script);
    const size_t mark = LogCapture::text().size();
    qir::sys::setLastError(kErrorBefore);
    EXPECT_EQ(c.call(harness.backend()), 0);
    const std::vector<std::string> lines = LogCapture::linesSince(mark);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], expectedLine(c));
}

INSTANTIATE_TEST_SUITE_P(EveryFailurePoint, ExportReportTest, testing::ValuesIn(allCases()),
                         caseName<ReportCase>);

// An exception in the other two exports, and every call that succeeds, write nothing.
struct SilentCase {
    std::string name;
    ExportCall call;
    std::function<void(Script&)> script;
    int32_t result;
};

void PrintTo(const SilentCase& c, std::ostream* os) {
    *os << c.name;
}

class SilentTest : public testing::TestWithParam<SilentCase> {};

TEST_P(SilentTest, WritesNoLine) {
    const SilentCase& c = GetParam();
    ReportHarness harness;
    harness.vendor.script.setKey("SYSTEM\\Key");
    c.script(harness.vendor.script);
    const size_t mark = LogCapture::text().size();
    EXPECT_EQ(c.call(harness.backend()), c.result);
    EXPECT_EQ(LogCapture::linesSince(mark), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    ExceptionsAndSuccesses, SilentTest,
    testing::Values(SilentCase{"GetThrowsInFindDevice", getState,
                               [](Script& s) { s.throws[fake::kFindDevice] = true; }, 0},
                    SilentCase{"GetThrowsInStateQuery", getState,
                               [](Script& s) { s.throws[fake::kGetState] = true; }, 0},
                    SilentCase{"KeyThrowsInCreateApi", key(300),
                               [](Script& s) { s.throws[fake::kCreateApi] = true; }, 0},
                    SilentCase{"KeyThrowsInKeyQuery", key(300),
                               [](Script& s) { s.throws[fake::kGetKey] = true; }, 0},
                    SilentCase{"GetSucceeds", getState, [](Script&) {}, 1},
                    SilentCase{"SetSucceeds", setOn, [](Script&) {}, 1},
                    SilentCase{"KeySucceeds", key(300), [](Script&) {}, 1}),
    caseName<SilentCase>);

// A failure point that an export does not have (a caller that names the wrong one) writes
// nothing rather than a line with another export's wording.
TEST(ExportReportSequenceTest, PointsAnExportDoesNotHaveWriteNothing) {
    using velnor::Export;
    using velnor::FailurePoint;
    const std::vector<velnor::Failure> strangers{
        {Export::GetTouchpadLaunchState, FailurePoint::Persist, 1, 0},
        {Export::GetTouchpadLaunchState, FailurePoint::TooSmall, 1, 2},
        {Export::SetTouchpadLaunchState, FailurePoint::StateQuery, 1, 0},
        {Export::SetTouchpadLaunchState, FailurePoint::NullState, 0, 0},
        {Export::GetTouchpadRegistryKey, FailurePoint::NotSupported, 0, 0},
        {Export::GetTouchpadRegistryKey, FailurePoint::Exception, 0, 0},
    };
    const size_t mark = LogCapture::text().size();
    for (const velnor::Failure& failure : strangers) {
        velnor::reportExportFailure(failure);
    }
    EXPECT_EQ(LogCapture::linesSince(mark), std::vector<std::string>{});
}

// The set throws from its release after a failure point already reported: one line for the
// failure, one for the exception.
TEST(ExportReportSequenceTest, SetReportsTheFailureThenTheException) {
    ReportHarness harness;
    harness.vendor.script.hasGesture = 0;
    harness.vendor.script.throws[fake::kReleaseDevice] = true;
    const size_t mark = LogCapture::text().size();
    qir::sys::setLastError(kErrorBefore);
    EXPECT_EQ(setOn(harness.backend()), 0);
    const std::vector<std::string> lines = LogCapture::linesSince(mark);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], expectedLine({"",
                                      kSet,
                                      setOn,
                                      {},
                                      "2FDT is not supported on this system, hResult = 0x0",
                                      224,
                                      kErrorBefore}));
    EXPECT_EQ(lines[1],
              expectedLine({"", kSet, setOn, {}, "unhandled exception", 253, kErrorOfVendor}));
}

// A key whose bytes join into fewer units in a multibyte locale does not convert one unit per
// byte: it counts as no usable key.
TEST(ExportReportLocaleTest, KeyThatDoesNotConvertReportsEmptyKey) {
    testlocale::ScopedLocale locale(testlocale::multiByteLocales());
    if (!locale.active()) {
        GTEST_SKIP() << "no multibyte locale in this C runtime";
    }
    const bool utf8 = locale.name().find("UTF-8") != std::string::npos;
    ReportHarness harness;
    harness.vendor.script.setKey(utf8 ? "caf\xc3\xa9" : "a\x82\xa0");
    const size_t mark = LogCapture::text().size();
    qir::sys::setLastError(kErrorBefore);
    EXPECT_EQ(key(300)(harness.backend()), 0);
    const std::vector<std::string> lines = LogCapture::linesSince(mark);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(
        lines[0],
        expectedLine(
            {"", kKey, {}, {}, "Source buffer lSize is <= 0, nothing to copy", 37, kErrorBefore}));
}

// When the heap refuses inside a report, the report degrades or is dropped, but the export
// answers as before and releases exactly what it held.
TEST(ExportReportAllocationTest, EveryRefusedAllocationLeavesTheExportIntact) {
    std::vector<fake::Call> expectedCalls;
    {
        ReportHarness reference;
        reference.vendor.script.code[fake::kFindDevice] = kFail;
        EXPECT_EQ(getState(reference.backend()), 0);
        expectedCalls = reference.vendor.calls;
    }
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        ReportHarness harness;
        harness.vendor.script.code[fake::kFindDevice] = kFail;
        bool fired = false;
        int32_t result = -1;
        {
            allocseam::Failing failing(n);
            result = getState(harness.backend());
            fired = failing.fired();
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(harness.vendor.calls, expectedCalls);
        if (!fired) {
            EXPECT_GT(n, 1u) << "the report made no allocation at all";
            break;
        }
        ASSERT_LT(n, 200u) << "the sweep does not end";
    }
}

}  // namespace
