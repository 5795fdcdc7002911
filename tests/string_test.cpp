// CQIRStringMultiByte and CQIRStringWChar: the text rules, numbers, joining, the orderings,
// parsing, case mapping, the conversions between the widths and the serialised form, each
// with its allocations failing in turn where it has any, and its reports read back.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"
#include "scoped_locale.h"
#include "string_harness.h"

namespace {

using harness::make;
using Bytes = CQIRBuffer<unsigned char>;
using MultiByte = CQIRStringMultiByte;
using Wide = CQIRStringWChar;

template <class S>
using CharOf = std::remove_pointer_t<decltype(std::declval<S&>().getBuffer())>;

// A string holding exactly these elements, whatever the text rules say.
template <class S>
S raw(const std::string& text) {
    S s;
    static_cast<CQIRBuffer<CharOf<S>>&>(s) = make<CharOf<S>>(text);
    return s;
}

// The objects of a row: operands l and r, r also as bytes and l as 8-bit elements. In plain
// rows the parsers run with errno at ERANGE from an earlier call: they clear it first, and put
// it back when the parse leaves none.
template <class S>
struct Job {
    S l, r;
    Bytes bytes;
    CQIRBuffer<char> narrow;
    int error;
    int32_t number = 77;
    double real = 77;
};

// The orderings <= >= < > of l and r, each as 1 or 0.
template <class S>
const char* order(const S& l, const S& r) {
    static char digits[5];
    const bool holds[4] = {(l <= r), (l >= r), (l < r), (l > r)};
    for (int i = 0; i < 4; ++i) {
        digits[i] = holds[i] ? '1' : '0';
    }
    return digits;
}

template <class S>
bool parsed(Job<S>& j, bool ok) {
    return j.error == 0 || errno == ERANGE ? ok : !ok;
}

// Runs r.op and writes its outcome; buffer conversions go through the buffer's table.
template <class S, class Base = CQIRBuffer<CharOf<S>>>
void act(const harness::Row& r, Job<S>& j, harness::Out& o) {
    const std::string& op = r.op;
    const Base& l = j.l;
    const CQIRSerialObject& object = j.l;
    op == "from"     ? o << S(l)
    : op == "from8"  ? o << S(j.narrow)
    : op == "text"   ? o << Wide(j.narrow.getBuffer())
    : op == "number" ? o << Wide(std::stoi(r.left), static_cast<uint16_t>(r.n))
    : op == "self="  ? o << (j.l = *&j.l)
    : op == "plus"   ? o << j.l + j.r
    : op == "order"  ? o << order(j.l, j.r)
    : op == "nocase" ? o << harness::yes(j.l.equalsNoCase(j.r))
    : op == "length" ? o << j.l.length()
    : op == "toLong"
        ? o << harness::yes(parsed(j, (j.error != 0 ? errno = j.error : 0,
                                       j.l.toLong(j.number, static_cast<unsigned char>(r.n)))))
            << j.number
    : op == "toDouble"
        ? o << harness::yes(parsed(j, (j.error != 0 ? errno = j.error : 0, j.l.toDouble(j.real))))
            << j.real
    : op == "upper"     ? o << harness::yes(j.l.toUpper()) << j.l
    : op == "lower"     ? o << harness::yes(j.l.toLower()) << j.l
    : op == "units"     ? o << l.operator CQIRBuffer<qir_wchar_t>()
    : op == "bytes"     ? o << l.operator CQIRBuffer<char>()
    : op == "serialize" ? o << object.serialize()
    : op == "form"      ? o << object.operator Bytes()
    : op == "size"      ? o << object.serializedSize()
                       << harness::yes(object.isEncrypted() || object.isCompressed())
    : op == "read" ? o << harness::yes(j.l.deserialize(j.bytes)) << j.l << j.bytes
                   : o << "no such operation";
}

template <class S>
void checkRow(const std::string& text) {
    const harness::Row r = harness::row(text);
    harness::check(
        r.script, harness::letter<CharOf<S>>(),
        [&] {
            return Job<S>{raw<S>(r.left), raw<S>(r.right), make<unsigned char>(r.right),
                          make<char>(r.left), r.script.find(';') == std::string::npos ? ERANGE : 0};
        },
        [&](Job<S>& j, harness::Out& o) { act(r, j, o); });
}

class StringTest : public testing::TestWithParam<std::string> {};

TEST_P(StringTest, WritesTheOutcomeAndReportsOfItsScript) {
    harness::forEachType<MultiByte, Wide>(GetParam(),
                                          [&](auto tag) { checkRow<decltype(tag)>(GetParam()); });
}

// The rows of a serialisation of "abc~" from its 8-bit payload on: each failure leaves the
// form short, and so emptied. `tail` ends each row's codes.
std::string formRows(const std::string& tail) {
    std::string rows;
    for (const char* codes :
         {"900b/4 472b", "900b/4 507b", "900b/1 472b", "900b/4 472b", "900b/1 561b",
          "900b/1 507b 561b", "900b/5 561b", "900b/5 507b 561b", "900b/9 561b"}) {
        rows += codes + tail + " > empty; ";
    }
    return rows + "> <1><4>~~~abc~";
}

// Every failure on the way leaves the string and the bytes as they were.
std::string unchanged(const char* const rows[10]) {
    std::string script;
    for (int i = 0; i < 10; ++i) {
        script += std::string(rows[i]) + " > false zz~ <1><3>~~~ab~<1><3>~~~cd~; ";
    }
    return script + "> true ab~ <1><3>~~~cd~";
}

const char* const kNarrowRead[10] = {"900b/3 450b", "900c/3 472c", "900c/3 507c", "900/3 507",
                                     "900/1 450",   "900/3 507",   "900/4",       "900/4 507 74",
                                     "900/3 74",    "900b/8 450b"};
const char* const kWideRead[10] = {"900b/3 450b", "900c/3 472c",      "900c/3 507c", "900c/1 450c",
                                   "900c/3 507c", "900c/3 507c 561c", "900c/4 561c", "900/3",
                                   "900/3 507",   "900b/8 450b"};

INSTANTIATE_TEST_SUITE_P(
    Rows, StringTest,
    testing::Values(
        // Text up to the first zero, then one zero; no storage when empty.
        "from ~a | > empty", "from ab | > ab~", "from a~bc | > a~", "from8 ~a | > empty",
        "from8 a~bc | > a~", "w.text a_b<9>c~ | > a_b<9>c~", "w.text ~ | > empty",
        "w.text | > empty",
        // Copy, terminator, appending it (old elements, new storage), and the cut after the first
        // zero, whose copy failing leaves the text uncut.
        "c.from ab~x | 900/4 507 > empty; 900/1 450 > empty; 900/4 507 > empty; 900/5 > empty; "
        "900/5 507 74 > ab~x~; 900/3 74 > empty; > ab~",
        "w.text abc~ | 900/4 > empty; > abc~",
        "w.from8 ab | 900c/1 450c > empty; 900c/2 507c > empty; 900c/2 507c 561c > empty; 900c/3 "
        "561c > empty; 900/3 > empty; 900/3 507 > empty; > ab~",
        // Radix 10 signed, the others the 32-bit pattern unsigned; no radix outside 2 to 36.
        "w.number:10 0 | > 0~", "w.number:10 -2147483648 | > -2147483648~",
        "w.number:2 -1 | > 11111111111111111111111111111111~", "w.number:8 -8 | > 37777777770~",
        "w.number:36 35 | > z~", "w.number:1 5 | > empty", "w.number:37 5 | > empty",
        // The digits stay in their 33 elements when trimming them fails, or go with them.
        "w.number:16 255 | 900/33 > empty; 900/33 507 > ff~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~; 900/3 > "
        "empty; > ff~",
        "self= a~b | > a~b",
        // The right operand as it is, over the left one's first zero.
        "plus empty de~ | > de~", "plus a~x~ d~ | > ad~", "plus ~x d~ | > d~",
        "plus a~ d~e | > ad~e",
        // The working copy of the left operand failing, only the right one arrives.
        "w.plus abc~ de~ | 900/4 507 > de~; 900/1 450 > de~; 900/4 507 > de~; 900/5 > de~; 900/5 "
        "507 > abcde~; 900/4 > de~; 900/4 507 54 > abc~; 900/6 54 > empty; > abcde~",
        // <= >= < >: the texts over the shorter count as unsigned elements, then the counts.
        "order abc~ abc~ | > 1100", "order ab~ abc~ | > 1010", "order abc~ ab~ | > 0100",
        "order b~ ab~ | > 0001", "order ab~ b~ | > 0000", "order ba~ a~ | > 0100",
        "order abd~ abc~ | > 0101", "order abc~ abd~ | > 1010", "order abc~ b~ | > 0000",
        "order empty a~ | > 0000", "order a~ | > 0000", "order | > 1100", "order <e9>~ e~ | > 0101",
        "order a~x a~y | > 1100", "order 7ab 7a | > 0100", "nocase aBc1~ AbC1~ | > true",
        "nocase abc~ abcd~ | > false", "nocase abc~ abd~ | > false", "nocase | > true",
        "nocase Ab aB | > true", "length a~b~ | > 1", "length | > 0", "length ab | > 2",
        // A 32-bit strtol: the nearest limit and false where it sets ERANGE.
        "toLong:10 __-42x~ | > true -42", "toLong:0 0x1F~ | > true 31", "toLong:36 z~ | > true 35",
        "toLong:10 2147483647~ | > true 2147483647", "toLong:10 2147483648~ | > false 2147483647",
        "toLong:10 -2147483648~ | > true -2147483648",
        "toLong:10 -2147483649~ | > false -2147483648",
        "toLong:10 -99999999999999999999~ | > false -2147483648", "toLong:10 | > false 77",
        "toLong:1 1~ | > false 77", "toLong:37 1~ | > false 77",
        // Storage without a zero of its own is parsed from a terminated copy, or not at all.
        "toLong:16 7ab | 900/4 > false 77; > true 1963", "toDouble _-2.5e3x~ | > true -2500",
        "toDouble 1e999~ | > false inf", "toDouble | > false 77",
        "toDouble 42 | 900/3 > false 77; > true 42",
        // ASCII letters before the last element.
        "upper Mixed_Case_1z~ | > true MIXED_CASE_1Z~",
        "lower Mixed_Case_1z~ | > true mixed_case_1z~", "upper ab | > true Ab",
        "lower | > false empty", "lower <c9>E<e9>e<df>~ | > true <c9>e<e9>e<df>~",
        "upper <c9>E<e9>e<df>~ | > true <c9>E<e9>E<df>~", "units | > empty", "bytes | > empty",
        "c.units abc~ | 900w/4 450w 364 > empty; > abc~",
        "w.bytes abc~ | 900c/4 450c > empty; > abc~",
        // A character without an 8-bit form: the bytes before it, then zeros.
        "w.bytes ab<100>c~ | > ab~~~", "size abc~ | > 9 false", "size | > 5 false",
        "form | > <1>~~~~", "serialize 7ab | > <1><3>~~~7ab",
        "w.serialize a<100>b~ | > <1><4>~~~a~~~",
        // A form of the wrong size is emptied: reported by the 8-bit class and by the conversion.
        "c.serialize abc~ | 900/4 507 421 > empty; " + formRows(" 421"),
        "c.form abc~ | 900/4 507 421 239 > empty; " + formRows(" 421 239"),
        "w.serialize abc~ | 900c/4 450c > empty; " + formRows(""),
        "w.form abc~ | 900c/4 450c 239 > empty; " + formRows(" 239"),
        // Read from the front of the bytes, or nothing changes.
        "read zz~ <1><2>~~~z~<9> | > true z~ <9>", "read zz~ <1>~~~~ | > true empty empty",
        "read zz~ <1><1>~~~~ | > true empty empty", "read zz~ <1><4>~~~a~b~ | > true a~ empty",
        "read zz~ <1><2>~~~ab | > true ab~ empty", "read zz~ | > true empty empty",
        "read zz~ <2><4>~~~abc~ | 321 > false zz~ <2><4>~~~abc~",
        "read zz~ ~~~~~ | 321 > false zz~ ~~~~~",
        "read zz~ <1><5>~~~abc~ | 0 > false zz~ <1><5>~~~abc~",
        "read zz~ <1><ff><ff><ff><ff>abc~ | 0 > false zz~ <1><ff><ff><ff><ff>abc~",
        "read zz~ <1><fb><ff><ff><ff>abc~ | 0 > false zz~ <1><fb><ff><ff><ff>abc~",
        "read zz~ <1><4>~ | 1316b > false zz~ <1><4>~", "read zz~ <1> | 1316b > false zz~ <1>",
        "c.read zz~ <1><3>~~~ab~<1><3>~~~cd~ | " + unchanged(kNarrowRead),
        "w.read zz~ <1><3>~~~ab~<1><3>~~~cd~ | " + unchanged(kWideRead)));

// A locale in which one character takes several bytes: one character of two bytes, its unit,
// and bytes the locale rejects.
class StringLocaleTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!locale.active()) {
            GTEST_SKIP() << "no multibyte locale in this C runtime";
        }
    }
    testlocale::ScopedLocale locale{testlocale::multiByteLocales()};
    const bool utf8 = locale.name().find("UTF-8") != std::string::npos;
    const std::string character = utf8 ? "<c3><a9>" : "<82><a0>";
    const std::string unit = utf8 ? "<e9>" : "<3042>";
    const std::string invalid = utf8 ? "a<ff>~" : "a<82>~";
};

TEST_F(StringLocaleTest, EachWidthTakesTheOthersTextWhereItFits) {
    // 8-bit text of fewer characters than bytes gives its units, and is reported.
    checkRow<MultiByte>("units " + character + "b~ | 359 > " + unit + "b~~");
    // A UTF-16 string takes one unit for every byte, or nothing; its bytes stop at its count.
    checkRow<Wide>("text " + character + "b~ | > empty");
    checkRow<Wide>("text " + invalid + " | > empty");
    checkRow<Wide>("bytes " + unit + "b~ | > " + character + "b");
    // Text that does not convert is reported with the conversion's own error code.
    const auto lines = harness::reports([&] { CQIRBuffer<qir_wchar_t>(raw<MultiByte>(invalid)); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(harness::maskCode(lines[0]),
              harness::maskCode(harness::expectedLine("359", 'c', true)));
}

}  // namespace
