// Conversion between 8-bit text in the current locale and UTF-16, and the C runtime's text
// functions on UTF-16 text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "param_name.h"
#include "qir_sys/utf8.h"
#include "qir_sys/wide.h"
#include "scoped_locale.h"

namespace {

using qir::sys::kConversionFailed;
using qir::sys::multiByteToUtf16;
using qir::sys::utf16ToMultiByte;
using qir::sys::WideUnit;

TEST(WideTest, AsciiConvertsUnitForByte) {
    std::vector<WideUnit> out(8, 0x7777);
    EXPECT_EQ(multiByteToUtf16("Key1", out.data(), out.size()), 4u);
    EXPECT_EQ(out[0], WideUnit('K'));
    EXPECT_EQ(out[3], WideUnit('1'));
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(out[5], 0x7777);
}

TEST(WideTest, CountsWithoutOutput) {
    EXPECT_EQ(multiByteToUtf16("abcdef", nullptr, 0), 6u);
    EXPECT_EQ(multiByteToUtf16("", nullptr, 0), 0u);
}

TEST(WideTest, NeverWritesPastTheCapacity) {
    std::vector<WideUnit> out(6, 0x7777);
    EXPECT_EQ(multiByteToUtf16("abcdef", out.data(), 3), 3u);
    EXPECT_EQ(out[2], WideUnit('c'));
    EXPECT_EQ(out[3], 0x7777);
}

// Locale-specific expectations: the bytes of one character and the units it becomes.
struct MultiByteSample {
    const char* text;
    std::vector<WideUnit> units;
    const char* invalid;
};

MultiByteSample sampleFor(const std::string& locale) {
    if (locale.find("UTF-8") != std::string::npos) {
        return {"a\xc3\xa9\xf0\x9f\x98\x80", {WideUnit('a'), 0x00E9, 0xD83D, 0xDE00}, "a\xff"};
    }
    return {"a\x82\xa0", {WideUnit('a'), 0x3042}, "a\x82"};  // Shift-JIS hiragana A
}

TEST(WideTest, MultiByteCharactersBecomeOneOrTwoUnits) {
    testlocale::ScopedLocale locale(testlocale::multiByteLocales());
    if (!locale.active()) {
        GTEST_SKIP() << "no multibyte locale in this C runtime";
    }
    const MultiByteSample sample = sampleFor(locale.name());
    std::vector<WideUnit> out(8, 0x7777);
    ASSERT_EQ(multiByteToUtf16(sample.text, out.data(), out.size()), sample.units.size());
    for (size_t i = 0; i < sample.units.size(); ++i) {
        EXPECT_EQ(out[i], sample.units[i]) << i;
    }
    EXPECT_EQ(out[sample.units.size()], 0);
    EXPECT_EQ(multiByteToUtf16(sample.invalid, nullptr, 0), kConversionFailed);
}

TEST(WideTest, SurrogatePairIsNotSplitByTheCapacity) {
    testlocale::ScopedLocale locale({"C.UTF-8", "en_US.UTF-8"});
    if (!locale.active()) {
        GTEST_SKIP() << "no UTF-8 locale in this C runtime";
    }
    std::vector<WideUnit> out(4, 0x7777);
    EXPECT_EQ(multiByteToUtf16("a\xf0\x9f\x98\x80", out.data(), 2), 1u);
    EXPECT_EQ(out[0], WideUnit('a'));
    EXPECT_EQ(out[1], 0x7777);
}

TEST(WideTest, NarrowingNeverWritesPastTheCapacity) {
    const WideUnit text[] = {'a', 'b', 'c', 0};
    char out[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(utf16ToMultiByte(text, out, 2), 2u);
    EXPECT_EQ(std::string(out, 3), "abx");  // no room for the terminator: none written
    EXPECT_EQ(utf16ToMultiByte(text, nullptr, 0), 3u);
}

TEST(WideTest, NarrowingNeverWritesPartOfACharacter) {
    testlocale::ScopedLocale locale({"C.UTF-8", "en_US.UTF-8"});
    if (!locale.active()) {
        GTEST_SKIP() << "no UTF-8 locale in this C runtime";
    }
    // "a", U+00E9 (two bytes), U+1F600 (four bytes, from a surrogate pair).
    const WideUnit text[] = {'a', 0x00E9, 0xD83D, 0xDE00, 0};
    char out[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(utf16ToMultiByte(text, out, 2), 1u);
    EXPECT_EQ(std::string(out, 2), "ax");
    EXPECT_EQ(utf16ToMultiByte(text, out, 6), 3u);
    EXPECT_EQ(std::string(out, 4), "a\xc3\xa9x");
    EXPECT_EQ(utf16ToMultiByte(text, out, sizeof out), 7u);
    EXPECT_EQ(std::string(out), "a\xc3\xa9\xf0\x9f\x98\x80");
}

TEST(WideTest, CaseIsIgnoredUnitByUnit) {
    testlocale::ScopedLocale locale({"C.UTF-8", "en_US.UTF-8"});
    if (!locale.active()) {
        GTEST_SKIP() << "no UTF-8 locale in this C runtime";
    }
    const WideUnit upper[] = {'A', 0x00C9, 0};
    const WideUnit lower[] = {'a', 0x00E9, 0};
    EXPECT_EQ(qir::sys::compareNoCase(upper, lower, 3), 0);
    // U+10400 and U+10428 are one letter in two cases, but as _wcsnicmp sees their units
    // (surrogates, which have no case) they differ.
    const WideUnit deseretUpper[] = {0xD801, 0xDC00, 0};
    const WideUnit deseretLower[] = {0xD801, 0xDC28, 0};
    EXPECT_LT(qir::sys::compareNoCase(deseretUpper, deseretLower, 3), 0);
    EXPECT_GT(qir::sys::compareNoCase(deseretLower, deseretUpper, 3), 0);
}

TEST(WideTest, NumbersEndAtTheFirstCharacterThatIsNoDigit) {
    // A surrogate pair, and a lone high surrogate at the very end, both stop the number.
    const WideUnit pair[] = {'4', '2', 0xD83D, 0xDE00, '7', 0};
    const WideUnit lone[] = {'-', '1', '.', '5', 0xD83D, 0};
    long number = 0;
    double real = 0;
    ASSERT_TRUE(qir::sys::utf16ToLong(pair, 10, number));
    EXPECT_EQ(number, 42);
    ASSERT_TRUE(qir::sys::utf16ToDouble(lone, real));
    EXPECT_DOUBLE_EQ(real, -1.5);
}

}  // namespace

namespace {

// One code point read from the front of UTF-8 bytes: its length, or 0 when the bytes start
// none.
struct Utf8Case {
    const char* name;
    std::string bytes;
    size_t length;
    uint32_t value;  // when length is not 0
};

void PrintTo(const Utf8Case& c, std::ostream* os) {
    *os << c.name;
}

class Utf8DecodeTest : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8DecodeTest, ReadsOneCodePointOrNone) {
    const Utf8Case& c = GetParam();
    uint32_t value = 0x12345;
    EXPECT_EQ(qir::sys::decodeUtf8(c.bytes.data(), c.bytes.size(), value), c.length);
    EXPECT_EQ(value, c.length != 0 ? c.value : 0x12345u) << "a refused sequence sets nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8DecodeTest,
    testing::Values(Utf8Case{"Ascii", "Ab", 1, 'A'}, Utf8Case{"TwoBytes", "\xC3\xA9x", 2, 0xE9},
                    Utf8Case{"ThreeBytes", "\xE6\x97\xA5", 3, 0x65E5},
                    Utf8Case{"FourBytes", "\xF0\x9F\x98\x80", 4, 0x1F600},
                    Utf8Case{"LastCodePoint", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
                    Utf8Case{"Nothing", "", 0, 0}, Utf8Case{"LoneContinuation", "\x80", 0, 0},
                    Utf8Case{"NoLeadByte", "\xFF", 0, 0}, Utf8Case{"CutShort", "\xE6\x97", 0, 0},
                    Utf8Case{"NotContinued", "\xE6\x41\x41", 0, 0},
                    Utf8Case{"Surrogate", "\xED\xA0\x80", 0, 0},
                    Utf8Case{"PastTheLastCodePoint", "\xF4\x90\x80\x80", 0, 0},
                    Utf8Case{"OverlongReadAsItsValue", "\xC0\xAF", 2, '/'}),
    caseName<Utf8Case>);

TEST(Utf8EncodeTest, EveryLengthReadsBackAsWritten) {
    for (uint32_t value : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
        std::string bytes;
        qir::sys::appendUtf8(bytes, value);
        uint32_t read = 0;
        EXPECT_EQ(qir::sys::decodeUtf8(bytes.data(), bytes.size(), read), bytes.size()) << value;
        EXPECT_EQ(read, value);
    }
}

}  // namespace
