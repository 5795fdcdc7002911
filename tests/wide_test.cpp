// Conversion of 8-bit text in the current locale to UTF-16.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "qir_sys/wide.h"
#include "scoped_locale.h"

namespace {

using qir::sys::kConversionFailed;
using qir::sys::multiByteToUtf16;
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

}  // namespace
