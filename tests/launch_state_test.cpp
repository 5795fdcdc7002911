// GetTouchpadLaunchState and SetTouchpadLaunchState against a scripted vendor: results, the
// caller's byte, the exact vendor calls, releases and failure reports in order.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness.h"
#include "param_name.h"

namespace {

using fake::Call;
using fake::Script;
using velnor::FailurePoint;

constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
constexpr unsigned char kSentinel = 0xA5;

struct Case {
    std::string name;
    std::function<void(Script&)> script;
    int32_t result;
    std::vector<Call> calls;
    unsigned char byte = kSentinel;  // get: the byte afterwards; set: the state asked for
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// The calls both exports make up to the gesture check, with the gesture present.
std::vector<Call> opened() {
    return {fake::createApi(), fake::findDevice(), fake::createDevice(), fake::getGesture()};
}

std::vector<Call> operator+(std::vector<Call> a, const std::vector<Call>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Failures of the steps both exports share; the export's own calls are `tail` after the
// gesture check succeeded.
std::vector<Case> sharedOpeningFailures() {
    using namespace fake;
    const std::vector<Call> release{releaseDevice(), releaseApi()};
    return {
        {"CreateApiNegative",
         [](Script& s) { s.code[kCreateApi] = kFail; },
         0,
         {createApi(), report(FailurePoint::CreateApi, 0x80004005)}},
        {"CreateApiPositive",
         [](Script& s) { s.code[kCreateApi] = 1; },
         0,
         {createApi(), report(FailurePoint::CreateApi, 1)}},
        {"CreateApiNullObject",
         [](Script& s) { s.nullApi = true; },
         0,
         {createApi(), report(FailurePoint::CreateApi, 0)}},
        {"CreateApiFailsWithObjectNotReleased",
         [](Script& s) {
             s.code[kCreateApi] = kFail;
             s.objectOnFailure = true;
         },
         0,
         {createApi(), report(FailurePoint::CreateApi, 0x80004005)}},
        {"FindDeviceNegative",
         [](Script& s) { s.code[kFindDevice] = kFail; },
         0,
         {createApi(), findDevice(), report(FailurePoint::FindDevice, 0x80004005), releaseApi()}},
        {"FindDevicePositive",
         [](Script& s) { s.code[kFindDevice] = 3; },
         0,
         {createApi(), findDevice(), report(FailurePoint::FindDevice, 3), releaseApi()}},
        {"FindDeviceLeavesHandle",
         [](Script& s) { s.handleUntouched = true; },
         0,
         {createApi(), findDevice(), report(FailurePoint::FindDevice, 0), releaseApi()}},
        {"FindDeviceAnswersMinusOne",
         [](Script& s) { s.handle = -1; },
         0,
         {createApi(), findDevice(), report(FailurePoint::FindDevice, 0), releaseApi()}},
        {"CreateDeviceNegative",
         [](Script& s) { s.code[kCreateDevice] = kFail; },
         0,
         {createApi(), findDevice(), createDevice(), report(FailurePoint::CreateDevice, 0x80004005),
          releaseApi()}},
        {"CreateDevicePositive",
         [](Script& s) { s.code[kCreateDevice] = 0x7F; },
         0,
         {createApi(), findDevice(), createDevice(), report(FailurePoint::CreateDevice, 0x7F),
          releaseApi()}},
        {"CreateDeviceNullObject",
         [](Script& s) { s.nullDevice = true; },
         0,
         {createApi(), findDevice(), createDevice(), report(FailurePoint::CreateDevice, 0),
          releaseApi()}},
        {"CreateDeviceFailsWithObjectNotReleased",
         [](Script& s) {
             s.code[kCreateDevice] = 5;
             s.objectOnFailure = true;
         },
         0,
         {createApi(), findDevice(), createDevice(), report(FailurePoint::CreateDevice, 5),
          releaseApi()}},
        {"GestureQueryNegative", [](Script& s) { s.code[kGetGesture] = kFail; }, 0,
         opened() + std::vector<Call>{report(FailurePoint::GestureQuery, 0x80004005)} + release},
        {"GestureQueryPositive", [](Script& s) { s.code[kGetGesture] = 2; }, 0,
         opened() + std::vector<Call>{report(FailurePoint::GestureQuery, 2)} + release},
        {"NotSupported", [](Script& s) { s.hasGesture = 0; }, 0,
         opened() + std::vector<Call>{report(FailurePoint::NotSupported, 0)} + release},
    };
}

class LaunchStateTest : public testing::Test {
  protected:
    fake::Harness harness;

    void expectCalls(const std::vector<Call>& calls) {
        EXPECT_EQ(harness.vendor.calls, calls);
        EXPECT_EQ(harness.vendor.unexpectedCalls, 0);
        for (const velnor::Failure& failure : harness.failures) {
            EXPECT_EQ(failure.exportName, exportUnderTest);
        }
    }

    velnor::Export exportUnderTest = velnor::Export::GetTouchpadLaunchState;
};

// --- get ---

class GetLaunchStateTest : public LaunchStateTest, public testing::WithParamInterface<Case> {};

TEST_P(GetLaunchStateTest, AnswersAndCallsAsScripted) {
    const Case& c = GetParam();
    c.script(harness.vendor.script);
    unsigned char byte = kSentinel;
    EXPECT_EQ(velnor::getLaunchState(harness.backend(), &byte), c.result);
    EXPECT_EQ(byte, c.byte);
    expectCalls(c.calls);
}

std::vector<Case> getCases() {
    using namespace fake;
    const std::vector<Call> release{releaseDevice(), releaseApi()};
    std::vector<Case> cases = sharedOpeningFailures();
    cases.push_back({"Off", [](Script& s) { s.state = 0; }, 1,
                     opened() + std::vector<Call>{getState()} + release, 0});
    cases.push_back({"On", [](Script& s) { s.state = 1; }, 1,
                     opened() + std::vector<Call>{getState()} + release, 1});
    cases.push_back({"StateSevenReadsAsOne", [](Script& s) { s.state = 7; }, 1,
                     opened() + std::vector<Call>{getState()} + release, 1});
    cases.push_back({"NegativeStateReadsAsOne", [](Script& s) { s.state = -2; }, 1,
                     opened() + std::vector<Call>{getState()} + release, 1});
    cases.push_back({"AnyNonzeroGestureCounts",
                     [](Script& s) {
                         s.hasGesture = -9;
                         s.state = 1;
                     },
                     1, opened() + std::vector<Call>{getState()} + release, 1});
    cases.push_back({"OtherHandleIsPassedOn", [](Script& s) { s.handle = 0x1234; }, 1,
                     std::vector<Call>{createApi(), findDevice(), createDevice(0x1234),
                                       getGesture(), getState()} +
                         release,
                     0});
    cases.push_back(
        {"StateQueryNegative", [](Script& s) { s.code[kGetState] = kFail; }, 0,
         opened() + std::vector<Call>{getState(), report(FailurePoint::StateQuery, 0x80004005)} +
             release});
    cases.push_back(
        {"StateQueryPositive", [](Script& s) { s.code[kGetState] = 1; }, 0,
         opened() + std::vector<Call>{getState(), report(FailurePoint::StateQuery, 1)} + release});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, GetLaunchStateTest, testing::ValuesIn(getCases()), caseName<Case>);

TEST_F(LaunchStateTest, GetWithNullByteTouchesNoVendorAndReports) {
    EXPECT_EQ(velnor::getLaunchState(harness.backend(), nullptr), 0);
    expectCalls({fake::report(FailurePoint::NullState)});
}

// --- set ---

class SetLaunchStateTest : public LaunchStateTest, public testing::WithParamInterface<Case> {
  protected:
    SetLaunchStateTest() { exportUnderTest = velnor::Export::SetTouchpadLaunchState; }
};

TEST_P(SetLaunchStateTest, AnswersAndCallsAsScripted) {
    const Case& c = GetParam();
    c.script(harness.vendor.script);
    // The byte of a set case is the requested state.
    const unsigned char requested = c.byte == kSentinel ? 1 : c.byte;
    EXPECT_EQ(velnor::setLaunchState(harness.backend(), requested), c.result);
    expectCalls(c.calls);
}

std::vector<Case> setCases() {
    using namespace fake;
    const std::vector<Call> release{releaseDevice(), releaseApi()};
    std::vector<Case> cases = sharedOpeningFailures();
    for (Case& c : cases) {
        c.byte = 1;
    }
    cases.push_back({"On", [](Script&) {}, 1,
                     opened() + std::vector<Call>{setState(1), persist()} + release, 1});
    cases.push_back({"Off", [](Script&) {}, 1,
                     opened() + std::vector<Call>{setState(0), persist()} + release, 0});
    cases.push_back({"TwoWritesOne", [](Script&) {}, 1,
                     opened() + std::vector<Call>{setState(1), persist()} + release, 2});
    cases.push_back(
        {"StateWriteNegative", [](Script& s) { s.code[kSetState] = kFail; }, 0,
         opened() + std::vector<Call>{setState(1), report(FailurePoint::StateWrite, 0x80004005)} +
             release,
         1});
    cases.push_back(
        {"StateWritePositive", [](Script& s) { s.code[kSetState] = 4; }, 0,
         opened() + std::vector<Call>{setState(0), report(FailurePoint::StateWrite, 4)} + release,
         0});
    cases.push_back(
        {"PersistNegative", [](Script& s) { s.code[kPersist] = kFail; }, 0,
         opened() +
             std::vector<Call>{setState(1), persist(), report(FailurePoint::Persist, 0x80004005)} +
             release,
         1});
    cases.push_back(
        {"PersistPositive", [](Script& s) { s.code[kPersist] = 9; }, 0,
         opened() + std::vector<Call>{setState(1), persist(), report(FailurePoint::Persist, 9)} +
             release,
         1});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, SetLaunchStateTest, testing::ValuesIn(setCases()), caseName<Case>);

TEST_F(LaunchStateTest, SetWithoutGestureWritesNothing) {
    harness.vendor.script.hasGesture = 0;
    EXPECT_EQ(velnor::setLaunchState(harness.backend(), 1), 0);
    EXPECT_EQ(harness.vendor.stateWritten, -1);
}

TEST_F(LaunchStateTest, FailedPersistKeepsTheWrittenValue) {
    harness.vendor.script.code[fake::kPersist] = kFail;
    EXPECT_EQ(velnor::setLaunchState(harness.backend(), 1), 0);
    EXPECT_EQ(harness.vendor.stateWritten, 1);
}

// A report hook that throws is the host's problem, never the caller's: the export still
// releases what it holds and answers.
struct ThrowingReport {
    fake::Vendor vendor;
    int reports = 0;

    velnor::Backend backend() { return velnor::Backend{this, &createApi, &report}; }

  private:
    static int32_t createApi(void* context, ISynAPI** ppApi) {
        return static_cast<ThrowingReport*>(context)->vendor.createApi(ppApi);
    }
    static void report(void* context, const velnor::Failure&) {
        ++static_cast<ThrowingReport*>(context)->reports;
        throw std::runtime_error("report");
    }
};

TEST(LaunchStateReportTest, AThrowingReportStillReleasesAndAnswers) {
    using fake::persist;
    using fake::releaseApi;
    using fake::releaseDevice;
    ThrowingReport get;
    get.vendor.script.code[fake::kGetState] = kFail;
    unsigned char byte = kSentinel;
    EXPECT_EQ(velnor::getLaunchState(get.backend(), &byte), 0);
    EXPECT_EQ(byte, kSentinel);
    EXPECT_EQ(get.reports, 1);
    const std::vector<Call> getCalls =
        opened() + std::vector<Call>{fake::getState(), releaseDevice(), releaseApi()};
    EXPECT_EQ(get.vendor.calls, getCalls);

    // Set reports the vendor's exception too; that report throwing as well changes nothing.
    ThrowingReport set;
    set.vendor.script.throws[fake::kPersist] = true;
    EXPECT_EQ(velnor::setLaunchState(set.backend(), 1), 0);
    EXPECT_EQ(set.reports, 1);
    const std::vector<Call> setCalls =
        opened() + std::vector<Call>{fake::setState(1), persist(), releaseDevice(), releaseApi()};
    EXPECT_EQ(set.vendor.calls, setCalls);
}

// --- exceptions from the vendor ---

struct ThrowCase {
    std::string name;
    std::vector<int32_t> throwing;  // operations that throw
    int32_t result;
    std::vector<Call> calls;  // without the export's exception report
    unsigned char byte = kSentinel;
};

void PrintTo(const ThrowCase& c, std::ostream* os) {
    *os << c.name;
}

class GetThrowTest : public LaunchStateTest, public testing::WithParamInterface<ThrowCase> {};

TEST_P(GetThrowTest, CatchesAndReleasesWhatIsHeldOnce) {
    const ThrowCase& c = GetParam();
    for (int32_t op : c.throwing) {
        harness.vendor.script.throws[op] = true;
    }
    unsigned char byte = kSentinel;
    EXPECT_EQ(velnor::getLaunchState(harness.backend(), &byte), c.result);
    EXPECT_EQ(byte, c.byte);
    expectCalls(c.calls);  // no report: get is silent about exceptions
}

std::vector<ThrowCase> getThrowCases() {
    using namespace fake;
    const std::vector<Call> all = opened() + std::vector<Call>{getState()};
    return {
        {"SynCreateAPI", {kCreateApi}, 0, {createApi()}},
        {"FindDevice", {kFindDevice}, 0, {createApi(), findDevice(), releaseApi()}},
        {"CreateDevice",
         {kCreateDevice},
         0,
         {createApi(), findDevice(), createDevice(), releaseApi()}},
        {"GestureQuery",
         {kGetGesture},
         0,
         opened() + std::vector<Call>{releaseDevice(), releaseApi()}},
        {"StateQuery", {kGetState}, 0, all + std::vector<Call>{releaseDevice(), releaseApi()}},
        // The state was stored before the releases: the answer stays 1.
        {"ReleaseDevice",
         {kReleaseDevice},
         1,
         all + std::vector<Call>{releaseDevice(), releaseApi()},
         0},
        {"ReleaseApi", {kReleaseApi}, 1, all + std::vector<Call>{releaseDevice(), releaseApi()}, 0},
        {"GestureQueryThenReleaseDevice",
         {kGetGesture, kReleaseDevice},
         0,
         opened() + std::vector<Call>{releaseDevice(), releaseApi()}},
        {"GestureQueryThenBothReleases",
         {kGetGesture, kReleaseDevice, kReleaseApi},
         0,
         opened() + std::vector<Call>{releaseDevice(), releaseApi()}},
    };
}

INSTANTIATE_TEST_SUITE_P(Vendor, GetThrowTest, testing::ValuesIn(getThrowCases()),
                         caseName<ThrowCase>);

TEST_F(LaunchStateTest, GetReleaseThrowingOnFailurePathReleasesNothingTwice) {
    harness.vendor.script.code[fake::kFindDevice] = kFail;
    harness.vendor.script.throws[fake::kReleaseApi] = true;
    unsigned char byte = kSentinel;
    EXPECT_EQ(velnor::getLaunchState(harness.backend(), &byte), 0);
    EXPECT_EQ(byte, kSentinel);
    expectCalls({fake::createApi(), fake::findDevice(),
                 fake::report(FailurePoint::FindDevice, 0x80004005), fake::releaseApi()});
}

class SetThrowTest : public LaunchStateTest, public testing::WithParamInterface<ThrowCase> {
  protected:
    SetThrowTest() { exportUnderTest = velnor::Export::SetTouchpadLaunchState; }
};

TEST_P(SetThrowTest, ReportsThenReleasesWhatIsHeldOnce) {
    const ThrowCase& c = GetParam();
    for (int32_t op : c.throwing) {
        harness.vendor.script.throws[op] = true;
    }
    EXPECT_EQ(velnor::setLaunchState(harness.backend(), 1), c.result);
    expectCalls(c.calls);
}

std::vector<ThrowCase> setThrowCases() {
    using namespace fake;
    const Call exception = report(FailurePoint::Exception);
    const std::vector<Call> written = opened() + std::vector<Call>{setState(1)};
    const std::vector<Call> persisted = written + std::vector<Call>{persist()};
    const std::vector<Call> release{releaseDevice(), releaseApi()};
    return {
        {"SynCreateAPI", {kCreateApi}, 0, {createApi(), exception}},
        {"FindDevice", {kFindDevice}, 0, {createApi(), findDevice(), exception, releaseApi()}},
        {"CreateDevice",
         {kCreateDevice},
         0,
         {createApi(), findDevice(), createDevice(), exception, releaseApi()}},
        {"GestureQuery", {kGetGesture}, 0, opened() + std::vector<Call>{exception} + release},
        {"StateWrite", {kSetState}, 0, written + std::vector<Call>{exception} + release},
        {"Persist", {kPersist}, 0, persisted + std::vector<Call>{exception} + release},
        // Persisted before the releases: the answer stays 1, and the handler still reports.
        {"ReleaseDevice",
         {kReleaseDevice},
         1,
         persisted + std::vector<Call>{releaseDevice(), exception, releaseApi()}},
        {"ReleaseApi", {kReleaseApi}, 1, persisted + release + std::vector<Call>{exception}},
        {"PersistThenBothReleases",
         {kPersist, kReleaseDevice, kReleaseApi},
         0,
         persisted + std::vector<Call>{exception} + release},
    };
}

INSTANTIATE_TEST_SUITE_P(Vendor, SetThrowTest, testing::ValuesIn(setThrowCases()),
                         caseName<ThrowCase>);

}  // namespace
