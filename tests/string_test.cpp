// CQIRStringMultiByte and CQIRStringWChar: construction under the text rules, numbers,
// joining, the orderings, parsing, case mapping and the conversions between the widths.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "buffer_values.h"
#include "param_name.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"
#include "record_lines.h"
#include "scoped_locale.h"
#include "string_values.h"

namespace {

using bufvals::Values;
using strvals::show;
using strvals::text;

template <class S>
class StringTest : public testing::Test {};
using StringClasses = testing::Types<CQIRStringMultiByte, CQIRStringWChar>;
TYPED_TEST_SUITE(StringTest, StringClasses);

template <class S>
using CharOf = std::remove_pointer_t<decltype(std::declval<S&>().getBuffer())>;

// --- construction from elements ---

struct ElementsCase {
    const char* name;
    Values elements;
    std::string expected;  // as strvals::text shows it
};

void PrintTo(const ElementsCase& c, std::ostream* os) {
    *os << c.name;
}

class StringFromElementsTest : public testing::TestWithParam<ElementsCase> {};

TEST_P(StringFromElementsTest, KeepsTheTextUpToTheFirstZeroAndOneZero) {
    const ElementsCase& c = GetParam();
    std::vector<std::string> lines = records::linesWhile([&] {
        EXPECT_EQ(text(CQIRStringMultiByte(bufvals::make<char>(c.elements))), c.expected);
        EXPECT_EQ(text(CQIRStringWChar(bufvals::make<qir_wchar_t>(c.elements))), c.expected);
        EXPECT_EQ(text(CQIRStringWChar(bufvals::make<char>(c.elements))), c.expected);
    });
    EXPECT_EQ(lines, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Elements, StringFromElementsTest,
    testing::Values(ElementsCase{"None", {}, "/0"}, ElementsCase{"OnlyAZero", {0}, "/0"},
                    ElementsCase{"ZeroFirst", {0, 'a'}, "/0"},
                    ElementsCase{"Terminated", {'a', 'b', 0}, "ab/3"},
                    ElementsCase{"Unterminated", {'a', 'b'}, "ab/3"},
                    ElementsCase{"CutAfterTheFirstZero", {'a', 0, 'b', 'c'}, "a/2"},
                    ElementsCase{"SeveralZeros", {'x', 'y', 0, 0, 0}, "xy/3"}),
    caseName<ElementsCase>);

TEST(StringFromElementsTest, EmptyStringsHoldNoStorage) {
    EXPECT_EQ(CQIRStringMultiByte(bufvals::make<char>({0})).getBuffer(), nullptr);
    EXPECT_EQ(CQIRStringWChar(bufvals::make<qir_wchar_t>({0, 0})).getBuffer(), nullptr);
    EXPECT_EQ(CQIRStringWChar("").getBuffer(), nullptr);
    EXPECT_EQ(CQIRStringWChar(static_cast<const char*>(nullptr)).getBuffer(), nullptr);
    EXPECT_EQ(CQIRStringWChar().getBuffer(), nullptr);
    EXPECT_EQ(CQIRStringMultiByte().getBuffer(), nullptr);
}

TEST(StringFromTextTest, EachByteBecomesOneUnit) {
    const CQIRStringWChar abc("abc");
    EXPECT_EQ(show(abc), "[97 98 99 0]");
    EXPECT_EQ(text(CQIRStringWChar("a b\t~")), "a b\t~/6");
}

TYPED_TEST(StringTest, CopiesKeepTheElementsAsTheyAre) {
    using Char = CharOf<TypeParam>;
    const TypeParam raw = strvals::withElements<TypeParam, Char>({'a', 0, 'b'});
    const TypeParam copy(raw);
    EXPECT_EQ(show(copy), "[97 0 98]");
    EXPECT_NE(copy.getBuffer(), raw.getBuffer());
    TypeParam assigned = strvals::make<TypeParam>("xyz");
    assigned = raw;
    EXPECT_EQ(show(assigned), "[97 0 98]");
    TypeParam& alias = assigned;
    assigned = alias;
    EXPECT_EQ(show(assigned), "[97 0 98]");
}

// --- numbers ---

struct NumberCase {
    const char* name;
    int32_t value;
    uint16_t radix;
    std::string expected;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << c.name;
}

class StringNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(StringNumberTest, WritesTheDigitsInTheRadix) {
    const NumberCase& c = GetParam();
    const CQIRStringWChar number(c.value, c.radix);
    EXPECT_EQ(text(number), c.expected);
    if (number.getSize() == 0) {
        EXPECT_EQ(number.getBuffer(), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, StringNumberTest,
    testing::Values(
        NumberCase{"Zero", 0, 10, "0/2"}, NumberCase{"MinusOne", -1, 10, "-1/3"},
        NumberCase{"HResultDecimal", static_cast<int32_t>(0x80004005), 10, "-2147467259/12"},
        NumberCase{"HResultHex", static_cast<int32_t>(0x80004005), 16, "80004005/9"},
        NumberCase{"Hex255", 255, 16, "ff/3"}, NumberCase{"MinusOneHex", -1, 16, "ffffffff/9"},
        NumberCase{"MinusOneBinary", -1, 2, std::string(32, '1') + "/33"},
        NumberCase{"Smallest", INT32_MIN, 10, "-2147483648/12"},
        NumberCase{"Largest", INT32_MAX, 10, "2147483647/11"}, NumberCase{"Octal", 8, 8, "10/3"},
        NumberCase{"Base36", 35, 36, "z/2"},
        NumberCase{"NegativeOctalIsUnsigned", -8, 8, "37777777770/12"},
        NumberCase{"RadixZero", 5, 0, "/0"}, NumberCase{"RadixOne", 5, 1, "/0"},
        NumberCase{"Radix37", 5, 37, "/0"}, NumberCase{"RadixLargest", -1, 65535, "/0"}),
    caseName<NumberCase>);

// --- joining ---

struct JoinCase {
    const char* name;
    Values left;
    Values right;
    std::string expected;  // strvals::show of the result
};

void PrintTo(const JoinCase& c, std::ostream* os) {
    *os << c.name;
}

class StringJoinTest : public testing::TestWithParam<JoinCase> {};

TEST_P(StringJoinTest, WritesTheRightOperandOverTheTerminator) {
    const JoinCase& c = GetParam();
    const auto left = strvals::withElements<CQIRStringWChar, qir_wchar_t>(c.left);
    const auto right = strvals::withElements<CQIRStringWChar, qir_wchar_t>(c.right);
    std::vector<std::string> lines = records::linesWhile([&] {
        const CQIRStringWChar joined = left + right;
        EXPECT_EQ(show(joined), c.expected);
        const auto narrowLeft = strvals::withElements<CQIRStringMultiByte, char>(c.left);
        const auto narrowRight = strvals::withElements<CQIRStringMultiByte, char>(c.right);
        EXPECT_EQ(show(narrowLeft + narrowRight), c.expected);
    });
    EXPECT_EQ(lines, std::vector<std::string>{});
    EXPECT_EQ(show(left), show(bufvals::make<qir_wchar_t>(c.left)));
    EXPECT_EQ(show(right), show(bufvals::make<qir_wchar_t>(c.right)));
}

INSTANTIATE_TEST_SUITE_P(
    Operands, StringJoinTest,
    testing::Values(JoinCase{"Texts", {'a', 'b', 'c', 0}, {'d', 'e', 0}, "[97 98 99 100 101 0]"},
                    JoinCase{"EmptyLeftCopiesTheRight", {}, {'d', 'e', 0}, "[100 101 0]"},
                    JoinCase{"EmptyRight", {'a', 'b', 'c', 0}, {}, "[97 98 99 0]"},
                    JoinCase{"BothEmpty", {}, {}, "[]"},
                    JoinCase{"LeftCutAtItsFirstZero", {'a', 0, 'x', 0}, {'d', 0}, "[97 100 0]"},
                    JoinCase{"LeftWithoutText", {0, 'x'}, {'d', 0}, "[100 0]"},
                    JoinCase{"RightAsItIs", {'a', 0}, {'d', 0, 'e'}, "[97 100 0 101]"}),
    caseName<JoinCase>);

// --- orderings ---

struct OrderCase {
    const char* name;
    const char* a;
    const char* b;
    bool lessEqual, greaterEqual, less, greater;
};

void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << c.name;
}

class StringOrderTest : public testing::TestWithParam<OrderCase> {};

template <class S>
void expectOrder(const OrderCase& c) {
    SCOPED_TRACE(strvals::className<S>());
    const S a = strvals::make<S>(c.a);
    const S b = strvals::make<S>(c.b);
    EXPECT_EQ(a <= b, c.lessEqual) << "<=";
    EXPECT_EQ(a >= b, c.greaterEqual) << ">=";
    EXPECT_EQ(a < b, c.less) << "<";
    EXPECT_EQ(a > b, c.greater) << ">";
    // The same through the table of the shared base.
    const CQIRStringBase<S, CharOf<S>>& base = a;
    EXPECT_EQ(base < b, c.less);
    EXPECT_EQ(base > b, c.greater);
}

TEST_P(StringOrderTest, PrefixOrderThenTheCountsDecide) {
    expectOrder<CQIRStringMultiByte>(GetParam());
    expectOrder<CQIRStringWChar>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StringOrderTest,
    testing::Values(OrderCase{"Equal", "abc", "abc", true, true, false, false},
                    OrderCase{"PrefixIsLess", "ab", "abc", true, false, true, false},
                    OrderCase{"LongerIsNotLess", "abc", "ab", false, true, false, false},
                    OrderCase{"ShorterButGreaterIsNotLess", "b", "ab", false, false, false, true},
                    OrderCase{"LongerButLessIsNotLess", "ab", "b", false, false, false, false},
                    OrderCase{"LongerAndGreaterIsNotGreater", "ba", "a", false, true, false, false},
                    OrderCase{"SameCountGreater", "abd", "abc", false, true, false, true},
                    OrderCase{"SameCountLess", "abc", "abd", true, false, true, false},
                    OrderCase{"LessAndLongerIsNotGreater", "abc", "b", false, false, false, false},
                    OrderCase{"EmptyAndText", "", "a", false, false, false, false},
                    OrderCase{"TextAndEmpty", "a", "", false, false, false, false},
                    OrderCase{"BothEmpty", "", "", true, true, false, false}),
    caseName<OrderCase>);

TEST(StringOrderTest, UnitsCompareAsUnsignedValues) {
    const auto high = strvals::withElements<CQIRStringMultiByte, char>({0xE9, 0});
    const auto low = strvals::withElements<CQIRStringMultiByte, char>({'e', 0});
    EXPECT_TRUE(low < high);
    EXPECT_TRUE(high > low);
    const auto wideHigh = strvals::withElements<CQIRStringWChar, qir_wchar_t>({0xFF01, 0});
    const auto wideLow = strvals::withElements<CQIRStringWChar, qir_wchar_t>({0x7FFF, 0});
    EXPECT_TRUE(wideLow < wideHigh);
    EXPECT_FALSE(wideHigh < wideLow);
}

TEST(StringOrderTest, ElementsAfterAZeroInsideTheCountDoNotCount) {
    const auto a = strvals::withElements<CQIRStringWChar, qir_wchar_t>({'a', 0, 'x'});
    const auto b = strvals::withElements<CQIRStringWChar, qir_wchar_t>({'a', 0, 'y'});
    EXPECT_TRUE(a <= b);
    EXPECT_TRUE(a >= b);
    EXPECT_FALSE(a < b);
}

// --- equalsNoCase and length ---

struct NoCaseCase {
    const char* name;
    const char* a;
    const char* b;
    bool equal;
};

void PrintTo(const NoCaseCase& c, std::ostream* os) {
    *os << c.name;
}

class StringNoCaseTest : public testing::TestWithParam<NoCaseCase> {};

TEST_P(StringNoCaseTest, EqualCountsAndTextsButForCase) {
    const NoCaseCase& c = GetParam();
    EXPECT_EQ(strvals::make<CQIRStringMultiByte>(c.a).equalsNoCase(
                  strvals::make<CQIRStringMultiByte>(c.b)),
              c.equal);
    EXPECT_EQ(strvals::make<CQIRStringWChar>(c.a).equalsNoCase(strvals::make<CQIRStringWChar>(c.b)),
              c.equal);
}

INSTANTIATE_TEST_SUITE_P(Rows, StringNoCaseTest,
                         testing::Values(NoCaseCase{"Same", "abc", "abc", true},
                                         NoCaseCase{"CaseDiffers", "ABC", "abc", true},
                                         NoCaseCase{"Mixed", "aBc1_", "AbC1_", true},
                                         NoCaseCase{"LongerText", "abc", "abcd", false},
                                         NoCaseCase{"OtherLetter", "abc", "abd", false},
                                         NoCaseCase{"NotALetter", "a[", "a{", false},
                                         NoCaseCase{"BothEmpty", "", "", true},
                                         NoCaseCase{"OneEmpty", "", "a", false}),
                         caseName<NoCaseCase>);

TYPED_TEST(StringTest, NoCaseComparisonStopsAtTheCount) {
    using Char = CharOf<TypeParam>;
    // Neither holds a zero: the comparison must end with the elements, not look for one.
    const TypeParam a = strvals::withElements<TypeParam, Char>({'A', 'b'});
    const TypeParam b = strvals::withElements<TypeParam, Char>({'a', 'B'});
    EXPECT_TRUE(a.equalsNoCase(b));
    EXPECT_FALSE(a.equalsNoCase(strvals::withElements<TypeParam, Char>({'a', 'c'})));
}

TYPED_TEST(StringTest, LengthCountsUpToTheFirstZero) {
    using Char = CharOf<TypeParam>;
    EXPECT_EQ((strvals::withElements<TypeParam, Char>({'a', 0, 'b', 0}).length()), 1u);
    EXPECT_EQ(strvals::make<TypeParam>("abc").length(), 3u);
    EXPECT_EQ(TypeParam().length(), 0u);
    EXPECT_EQ((strvals::withElements<TypeParam, Char>({'a', 'b'}).length()), 2u);
}

// --- parsing ---

struct LongCase {
    const char* name;
    const char* text;
    unsigned char radix;
    bool ok;
    int32_t value;  // what is stored; 77 means untouched
};

void PrintTo(const LongCase& c, std::ostream* os) {
    *os << c.name;
}

class StringToLongTest : public testing::TestWithParam<LongCase> {};

TEST_P(StringToLongTest, ParsesAsA32BitStrtol) {
    const LongCase& c = GetParam();
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide" : "8-bit");
        int32_t value = 77;
        errno = 0;
        const bool ok = wide ? strvals::make<CQIRStringWChar>(c.text).toLong(value, c.radix)
                             : strvals::make<CQIRStringMultiByte>(c.text).toLong(value, c.radix);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(errno == ERANGE, !c.ok && c.value != 77) << "ERANGE exactly where out of range";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StringToLongTest,
    testing::Values(
        LongCase{"Decimal", "123", 10, true, 123}, LongCase{"Negative", "  -42", 10, true, -42},
        LongCase{"StopsAtANonDigit", "12ab", 10, true, 12},
        LongCase{"NoNumber", "abc", 10, true, 0}, LongCase{"Hex", "ff", 16, true, 255},
        LongCase{"HexPrefixFromRadixZero", "0x1F", 0, true, 31},
        LongCase{"OctalFromRadixZero", "017", 0, true, 15}, LongCase{"Base36", "z", 36, true, 35},
        LongCase{"Largest", "2147483647", 10, true, INT32_MAX},
        LongCase{"Smallest", "-2147483648", 10, true, INT32_MIN},
        LongCase{"OneAboveTheLargest", "2147483648", 10, false, INT32_MAX},
        LongCase{"OneBelowTheSmallest", "-2147483649", 10, false, INT32_MIN},
        LongCase{"FarTooLarge", "99999999999", 10, false, INT32_MAX},
        LongCase{"BeyondSixtyFourBits", "-99999999999999999999", 10, false, INT32_MIN},
        LongCase{"HexBeyond32Bits", "100000000", 16, false, INT32_MAX},
        LongCase{"Empty", "", 10, false, 77}, LongCase{"RadixOne", "1", 1, false, 77},
        LongCase{"Radix37", "1", 37, false, 77}, LongCase{"Radix255", "1", 255, false, 77}),
    caseName<LongCase>);

struct DoubleCase {
    const char* name;
    const char* text;
    bool ok;
    double value;  // 77 means untouched
};

void PrintTo(const DoubleCase& c, std::ostream* os) {
    *os << c.name;
}

class StringToDoubleTest : public testing::TestWithParam<DoubleCase> {};

TEST_P(StringToDoubleTest, ParsesAsStrtod) {
    const DoubleCase& c = GetParam();
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide" : "8-bit");
        double value = 77;
        const bool ok = wide ? strvals::make<CQIRStringWChar>(c.text).toDouble(value)
                             : strvals::make<CQIRStringMultiByte>(c.text).toDouble(value);
        EXPECT_EQ(ok, c.ok);
        if (c.ok || c.value == 77) {
            EXPECT_DOUBLE_EQ(value, c.value);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, StringToDoubleTest,
                         testing::Values(DoubleCase{"Fraction", "1.5", true, 1.5},
                                         DoubleCase{"Exponent", " -2.5e3x", true, -2500.0},
                                         DoubleCase{"NoNumber", "x", true, 0.0},
                                         DoubleCase{"Overflow", "1e999", false, 0.0},
                                         DoubleCase{"Empty", "", false, 77}),
                         caseName<DoubleCase>);

TYPED_TEST(StringTest, AnEarlierRangeErrorDoesNotFailAParse) {
    const TypeParam number = strvals::make<TypeParam>("12");
    double d = 0;
    int32_t l = 0;
    errno = ERANGE;
    EXPECT_TRUE(number.toDouble(d));
    EXPECT_EQ(errno, ERANGE) << "the caller's errno stays";
    EXPECT_TRUE(number.toLong(l, 10));
    EXPECT_EQ(l, 12);
    EXPECT_DOUBLE_EQ(d, 12.0);
}

TYPED_TEST(StringTest, ParsersReadOnlyTheStringsElements) {
    using Char = CharOf<TypeParam>;
    const TypeParam digits = strvals::withElements<TypeParam, Char>({'4', '2'});
    int32_t l = 0;
    double d = 0;
    EXPECT_TRUE(digits.toLong(l, 10));
    EXPECT_EQ(l, 42);
    EXPECT_TRUE(digits.toDouble(d));
    EXPECT_DOUBLE_EQ(d, 42.0);
}

// --- case mapping ---

TYPED_TEST(StringTest, CaseMappingChangesAsciiLettersBeforeTheLastElement) {
    using Char = CharOf<TypeParam>;
    TypeParam s = strvals::make<TypeParam>("Mixed Case 1_z");
    EXPECT_TRUE(s.toUpper());
    EXPECT_EQ(text(s), "MIXED CASE 1_Z/15");
    EXPECT_TRUE(s.toLower());
    EXPECT_EQ(text(s), "mixed case 1_z/15");

    TypeParam unterminated = strvals::withElements<TypeParam, Char>({'a', 'b'});
    EXPECT_TRUE(unterminated.toUpper());
    EXPECT_EQ(show(unterminated), "[65 98]") << "the last element stays";

    TypeParam empty;
    EXPECT_FALSE(empty.toLower());
    EXPECT_FALSE(empty.toUpper());
}

TEST(StringCaseTest, OnlyAsciiChanges) {
    // 'straße 1': ß is U+00DF, and 0xDF in 8-bit text.
    auto wide = strvals::withElements<CQIRStringWChar, qir_wchar_t>(
        {'s', 't', 'r', 'a', 0xDF, 'e', ' ', '1', 0});
    EXPECT_TRUE(wide.toUpper());
    EXPECT_EQ(show(wide), "[83 84 82 65 223 69 32 49 0]");
    auto capitals = strvals::withElements<CQIRStringWChar, qir_wchar_t>({0xC9, 'E', 0});
    EXPECT_TRUE(capitals.toLower());
    EXPECT_EQ(show(capitals), "[201 101 0]");
    auto narrow = strvals::withElements<CQIRStringMultiByte, char>({0xC9, 'E', 0xE9, 'e', 0});
    EXPECT_TRUE(narrow.toLower());
    EXPECT_EQ(show(narrow), "[201 101 233 101 0]");
    EXPECT_TRUE(narrow.toUpper());
    EXPECT_EQ(show(narrow), "[201 69 233 69 0]");
}

// --- conversions between the widths ---

TEST(StringConversionTest, WideTextBecomesItsBytesInTheLocale) {
    std::vector<std::string> lines = records::linesWhile([] {
        const CQIRBuffer<char> bytes = CQIRStringWChar("abc");
        EXPECT_EQ(show(bytes), "[97 98 99 0]");
        EXPECT_EQ(show(static_cast<CQIRBuffer<char>>(CQIRStringWChar())), "[]");
        // U+0100 has no form in the "C" locale: the bytes before it, then zeros.
        const auto unconvertible =
            strvals::withElements<CQIRStringWChar, qir_wchar_t>({'a', 'b', 0x100, 'c', 0});
        EXPECT_EQ(show(static_cast<CQIRBuffer<char>>(unconvertible)), "[97 98 0 0 0]");
        // Through the buffer's table: the string's conversion, not the buffer's bytes.
        const CQIRBuffer<qir_wchar_t>& asBuffer = unconvertible;
        EXPECT_EQ(show(asBuffer.operator CQIRBuffer<char>()), "[97 98 0 0 0]");
    });
    EXPECT_EQ(lines, std::vector<std::string>{}) << "no records";
}

TEST(StringConversionTest, NarrowTextBecomesItsUnits) {
    std::vector<std::string> lines = records::linesWhile([] {
        const CQIRStringMultiByte abc = strvals::make<CQIRStringMultiByte>("abc");
        const CQIRBuffer<qir_wchar_t> units = abc;
        EXPECT_EQ(show(units), "[97 98 99 0]");
        const CQIRBuffer<char>& asBuffer = abc;
        EXPECT_EQ(show(asBuffer.operator CQIRBuffer<qir_wchar_t>()), "[97 98 99 0]");
        EXPECT_EQ(show(static_cast<CQIRBuffer<qir_wchar_t>>(CQIRStringMultiByte())), "[]");
    });
    EXPECT_EQ(lines, std::vector<std::string>{});
}

// A multibyte locale and a text in it.
struct LocaleSample {
    std::string bytes;    // one character of two bytes, then 'b'
    Values units;         // its UTF-16 units
    std::string invalid;  // bytes the locale rejects
};

LocaleSample sampleFor(const std::string& locale) {
    if (locale.find("UTF-8") != std::string::npos) {
        return {
            "\xc3\xa9"
            "b",
            {0x00E9, 'b'},
            "a\xff"};
    }
    return {
        "\x82\xa0"
        "b",
        {0x3042, 'b'},
        "a\x82"};  // Shift-JIS
}

class StringLocaleTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!locale.active()) {
            GTEST_SKIP() << "no multibyte locale in this C runtime";
        }
        sample = sampleFor(locale.name());
    }
    testlocale::ScopedLocale locale{testlocale::multiByteLocales()};
    LocaleSample sample;
};

records::Record multiByteRecord(const std::string& message, uint32_t line) {
    return records::stringRecord("CQIRStringMultiByte::operator class CQIRBuffer<wchar_t>", message,
                                 "CastWCHAR", "qir_string_multibyte", line);
}

TEST_F(StringLocaleTest, NarrowTextOfFewerCharactersThanBytesIsReported) {
    const CQIRStringMultiByte narrow = strvals::make<CQIRStringMultiByte>(sample.bytes);
    CQIRBuffer<qir_wchar_t> units;
    std::vector<std::string> lines = records::linesWhile([&] { units = narrow; });
    EXPECT_EQ(show(units),
              show(bufvals::make<qir_wchar_t>({sample.units[0], sample.units[1], 0, 0})));
    EXPECT_EQ(lines, records::linesOf({multiByteRecord(
                         "Unable to convert multibyte string into wide char string", 359)}));

    // The failed conversion leaves its own error code, which the record carries.
    const CQIRStringMultiByte invalid = strvals::make<CQIRStringMultiByte>(sample.invalid);
    lines = records::linesWhile([&] { units = invalid; });
    EXPECT_EQ(units.getSize(), 3u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(records::maskCode(lines[0]),
              records::maskCode(records::linesOf({multiByteRecord(
                  "Unable to convert multibyte string into wide char string", 359)})[0]));
}

TEST_F(StringLocaleTest, WideTextTakesOnlyOneUnitPerByte) {
    EXPECT_EQ(text(CQIRStringWChar(sample.bytes.c_str())), "/0");
    EXPECT_EQ(text(CQIRStringWChar(sample.invalid.c_str())), "/0");
    EXPECT_EQ(text(CQIRStringWChar("ab")), "ab/3");
}

TEST_F(StringLocaleTest, WideTextLongerInBytesIsCutAtTheElementCount) {
    const auto wide =
        strvals::withElements<CQIRStringWChar, qir_wchar_t>({sample.units[0], sample.units[1], 0});
    const CQIRBuffer<char> bytes = wide;
    // Three elements give three bytes: the two-byte character and 'b', no room for the zero.
    EXPECT_EQ(show(bytes), show(CQIRBuffer<char>(sample.bytes.c_str(), 3)));
}

// --- storage that a caller filled without the text rules ---

TYPED_TEST(StringTest, UnterminatedStorageIsNeverReadPastItsEnd) {
    using Char = CharOf<TypeParam>;
    const TypeParam s = strvals::withElements<TypeParam, Char>({'7', 'a', 'b'});
    EXPECT_EQ(s.length(), 3u);
    int32_t value = 0;
    EXPECT_TRUE(s.toLong(value, 16));
    EXPECT_EQ(value, 0x7AB);
    EXPECT_FALSE((s < strvals::withElements<TypeParam, Char>({'7', 'a'})));
    const CQIRBuffer<unsigned char> form = s.serialize();
    EXPECT_EQ(form.getSize(), 8u);
}

// --- the serialisable interface ---

TYPED_TEST(StringTest, TheSerialInterfaceReachesTheString) {
    const TypeParam s = strvals::make<TypeParam>("ab");
    const CQIRSerialObject& object = s;
    EXPECT_EQ(object.serializedSize(), 8u);
    EXPECT_EQ(show(object.serialize()), "[1 3 0 0 0 97 98 0]");
    EXPECT_EQ(show(object.operator CQIRBuffer<unsigned char>()), "[1 3 0 0 0 97 98 0]");
    EXPECT_FALSE(object.isCompressed());
    EXPECT_FALSE(object.isEncrypted());
}

}  // namespace
