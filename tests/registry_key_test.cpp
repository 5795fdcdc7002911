// GetTouchpadRegistryKey against a scripted vendor: size checks, the copy into the caller's
// buffer and what it leaves untouched, releases and failure reports in order.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "harness.h"
#include "param_name.h"
#include "scoped_locale.h"

namespace {

using fake::Call;
using velnor::FailurePoint;

constexpr qir_wchar_t kSentinel = 0xBEEF;
constexpr size_t kBufferUnits = 400;

class RegistryKeyTest : public testing::Test {
  protected:
    fake::Harness harness;
    std::vector<qir_wchar_t> buffer = std::vector<qir_wchar_t>(kBufferUnits, kSentinel);

    int32_t call(int32_t capacity) {
        return velnor::getRegistryKey(harness.backend(), buffer.data(), capacity);
    }

    void key(const std::string& text, int32_t reportedSize) {
        harness.vendor.script.setKey(text);
        harness.vendor.script.keySize = reportedSize;
    }

    bool untouched() const {
        for (qir_wchar_t unit : buffer) {
            if (unit != kSentinel) {
                return false;
            }
        }
        return true;
    }

    // The calls of a run that read the key and released both objects, with the reports made
    // between reading and releasing.
    static std::vector<Call> readAndRelease(std::vector<Call> reports) {
        std::vector<Call> calls{fake::createApi(), fake::findDevice(), fake::createDevice(),
                                fake::getKey()};
        calls.insert(calls.end(), reports.begin(), reports.end());
        calls.push_back(fake::releaseDevice());
        calls.push_back(fake::releaseApi());
        return calls;
    }

    void expectCalls(const std::vector<Call>& calls) {
        EXPECT_EQ(harness.vendor.calls, calls);
        EXPECT_EQ(harness.vendor.unexpectedCalls, 0);
        for (const velnor::Failure& failure : harness.failures) {
            EXPECT_EQ(failure.exportName, velnor::Export::GetTouchpadRegistryKey);
        }
    }
};

const std::string kTwenty = "SYSTEM\\Touchpad\\0001";  // 20 characters

TEST_F(RegistryKeyTest, FitsAndFillsTheWholeCapacity) {
    ASSERT_EQ(kTwenty.size(), 20u);
    key(kTwenty, 30);
    EXPECT_EQ(call(64), 1);
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(buffer[i], static_cast<qir_wchar_t>(kTwenty[i])) << i;
    }
    for (size_t i = 20; i < 64; ++i) {
        EXPECT_EQ(buffer[i], 0) << i;
    }
    for (size_t i = 64; i < kBufferUnits; ++i) {
        EXPECT_EQ(buffer[i], kSentinel) << i;
    }
    expectCalls(readAndRelease({}));
}

TEST_F(RegistryKeyTest, TextAndTerminatorExactlyFilling) {
    key(kTwenty, 5);
    EXPECT_EQ(call(21), 1);
    EXPECT_EQ(buffer[19], static_cast<qir_wchar_t>('1'));
    EXPECT_EQ(buffer[20], 0);
    EXPECT_EQ(buffer[21], kSentinel);
}

TEST_F(RegistryKeyTest, NullDestinationTouchesNoVendor) {
    EXPECT_EQ(velnor::getRegistryKey(harness.backend(), nullptr, 64), 0);
    expectCalls({fake::report(FailurePoint::NullDestination)});
}

struct KeyCase {
    std::string name;
    std::string text;
    int32_t reportedSize;
    int32_t capacity;
    Call report;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class RegistryKeyFailureTest : public RegistryKeyTest,
                               public testing::WithParamInterface<KeyCase> {};

TEST_P(RegistryKeyFailureTest, AnswersZeroAndLeavesTheBufferUntouched) {
    const KeyCase& c = GetParam();
    key(c.text, c.reportedSize);
    EXPECT_EQ(call(c.capacity), 0);
    EXPECT_TRUE(untouched());
    expectCalls(readAndRelease({c.report}));
}

const Call kEmpty = fake::report(FailurePoint::EmptyKey);
Call tooSmall(uint32_t size, uint32_t capacity) {
    return fake::report(FailurePoint::TooSmall, size, capacity);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, RegistryKeyFailureTest,
    testing::Values(KeyCase{"ReportedSizeZero", kTwenty, 0, 64, kEmpty},
                    KeyCase{"ReportedSizeNegative", kTwenty, -1, 64, kEmpty},
                    KeyCase{"CapacityEqualsReportedSize", "abc", 0x20, 0x20, tooSmall(0x20, 0x20)},
                    KeyCase{"CapacityBelowReportedSize", kTwenty, 0x20, 16, tooSmall(0x20, 0x10)},
                    KeyCase{"CapacityZero", "abc", 4, 0, tooSmall(4, 0)},
                    KeyCase{"CapacityNegative", "abc", 4, -1, tooSmall(4, 0xffffffff)},
                    // The device reported less than it wrote: the key would be cut.
                    KeyCase{"TextLongerThanCapacity", kTwenty, 5, 10, tooSmall(5, 10)},
                    KeyCase{"TerminatorDoesNotFit", kTwenty, 5, 20, tooSmall(5, 20)},
                    KeyCase{"EmptyText", "", 5, 64, kEmpty}),
    caseName<KeyCase>);

TEST_F(RegistryKeyTest, KeyQueryFailureIsReportedWithItsCode) {
    harness.vendor.script.code[fake::kGetKey] = static_cast<int32_t>(0x80070057);
    key(kTwenty, 21);
    EXPECT_EQ(call(64), 0);
    EXPECT_TRUE(untouched());
    expectCalls(readAndRelease({fake::report(FailurePoint::KeyQuery, 0x80070057)}));
}

TEST_F(RegistryKeyTest, PositiveKeyQueryCodeFails) {
    harness.vendor.script.code[fake::kGetKey] = 1;
    key(kTwenty, 21);
    EXPECT_EQ(call(64), 0);
    expectCalls(readAndRelease({fake::report(FailurePoint::KeyQuery, 1)}));
}

TEST_F(RegistryKeyTest, TextWithoutTerminatorInTheKeyBufferIsEmpty) {
    fake::Script& script = harness.vendor.script;
    for (unsigned char& byte : script.key) {
        byte = 'K';
    }
    script.keyBytes = syn::kKeyBufferSize;
    script.keySize = 10;
    EXPECT_EQ(call(300), 0);
    EXPECT_TRUE(untouched());
    expectCalls(readAndRelease({kEmpty}));
}

TEST_F(RegistryKeyTest, OpeningFailuresReleaseOnlyWhatWasCreated) {
    harness.vendor.script.code[fake::kCreateDevice] = 2;
    EXPECT_EQ(call(64), 0);
    EXPECT_TRUE(untouched());
    expectCalls({fake::createApi(), fake::findDevice(), fake::createDevice(),
                 fake::report(FailurePoint::CreateDevice, 2), fake::releaseApi()});
}

// In a locale where one character takes several bytes, text whose bytes join into one unit,
// and text that is not valid in the locale, do not convert one unit per byte: no key.
TEST_F(RegistryKeyTest, TextThatDoesNotConvertUnitForByteIsEmpty) {
    testlocale::ScopedLocale locale(testlocale::multiByteLocales());
    if (!locale.active()) {
        GTEST_SKIP() << "no multibyte locale in this C runtime";
    }
    const bool utf8 = locale.name().find("UTF-8") != std::string::npos;
    for (const char* text : {utf8 ? "caf\xc3\xa9" : "a\x82\xa0", utf8 ? "key\xff" : "key\x82"}) {
        SCOPED_TRACE(text);
        harness.vendor.calls.clear();
        key(text, 6);
        EXPECT_EQ(call(64), 0);
        EXPECT_TRUE(untouched());
        expectCalls(readAndRelease({kEmpty}));
    }
}

struct ThrowCase {
    std::string name;
    int32_t op;
    int32_t result;
    std::vector<Call> calls;
};

void PrintTo(const ThrowCase& c, std::ostream* os) {
    *os << c.name;
}

class RegistryKeyThrowTest : public RegistryKeyTest,
                             public testing::WithParamInterface<ThrowCase> {};

TEST_P(RegistryKeyThrowTest, CatchesAndReleasesWhatIsHeldOnce) {
    const ThrowCase& c = GetParam();
    key(kTwenty, 21);
    harness.vendor.script.throws[c.op] = true;
    EXPECT_EQ(call(64), c.result);
    EXPECT_EQ(untouched(), c.result == 0);
    expectCalls(c.calls);  // no report: the key query is silent about exceptions
}

INSTANTIATE_TEST_SUITE_P(
    Vendor, RegistryKeyThrowTest,
    testing::Values(ThrowCase{"SynCreateAPI", fake::kCreateApi, 0, {fake::createApi()}},
                    ThrowCase{"FindDevice",
                              fake::kFindDevice,
                              0,
                              {fake::createApi(), fake::findDevice(), fake::releaseApi()}},
                    ThrowCase{"CreateDevice",
                              fake::kCreateDevice,
                              0,
                              {fake::createApi(), fake::findDevice(), fake::createDevice(),
                               fake::releaseApi()}},
                    ThrowCase{"GetStringProperty",
                              fake::kGetKey,
                              0,
                              {fake::createApi(), fake::findDevice(), fake::createDevice(),
                               fake::getKey(), fake::releaseDevice(), fake::releaseApi()}},
                    ThrowCase{"ReleaseDevice",
                              fake::kReleaseDevice,
                              1,
                              {fake::createApi(), fake::findDevice(), fake::createDevice(),
                               fake::getKey(), fake::releaseDevice(), fake::releaseApi()}},
                    ThrowCase{"ReleaseApi",
                              fake::kReleaseApi,
                              1,
                              {fake::createApi(), fake::findDevice(), fake::createDevice(),
                               fake::getKey(), fake::releaseDevice(), fake::releaseApi()}}),
    caseName<ThrowCase>);

}  // namespace
