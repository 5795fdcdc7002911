// CQIRStringMultiByte and CQIRStringWChar: the text rules, numbers, joining, the orderings,
// parsing, case mapping, the conversions between the widths and the serialised form, with
// each allocation of the allocating operations failing in turn and the reports read back.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <utility>

#include "alloc_seam.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"
#include "scoped_locale.h"
#include "string_harness.h"

namespace {

using harness::elements;
using harness::make;
using harness::yes;
using Bytes = CQIRBuffer<unsigned char>;
using MultiByte = CQIRStringMultiByte;
using Wide = CQIRStringWChar;

template <class S>
using CharOf = std::remove_pointer_t<decltype(std::declval<S&>().getBuffer())>;

template <class S>
constexpr char letter() {
    return harness::letter<CharOf<S>>();
}

template <class S>
const CQIRBuffer<CharOf<S>>& asBuffer(const S& s) {
    return s;
}

// A string holding exactly these elements (harness::parse), whatever the text rules say.
template <class S>
S raw(const std::string& text) {
    S s;
    static_cast<CQIRBuffer<CharOf<S>>&>(s) = make<CharOf<S>>(text);
    return s;
}

// The bytes of 8-bit text written as elements.
std::string text(const std::string& elements) {
    const std::vector<uint32_t> values = harness::parse(elements);
    return std::string(values.begin(), values.end());
}

template <class F>
void forEachString(F f) {
    f(MultiByte());
    f(Wide());
}

template <class T>
T selfAssigned(T t) {
    t = *&t;
    return t;
}

template <class S>
std::string cased(S s, bool upper) {
    const bool ok = upper ? s.toUpper() : s.toLower();
    return yes(ok) + " " + elements(s);
}

// Parsers run with errno at ERANGE from an earlier call: they clear it first, and put it back
// when the parse leaves none. Radix 99: toDouble.
template <class S>
std::string parsed(const S& s, uint32_t radix) {
    int32_t number = 77;
    double real = 77;
    errno = ERANGE;
    const bool ok =
        radix == 99 ? s.toDouble(real) : s.toLong(number, static_cast<unsigned char>(radix));
    char value[32];
    std::snprintf(value, sizeof value, "%.12g", radix == 99 ? real : number);
    return yes(ok) + " " + (std::isinf(real) ? "inf" : value) +
           (errno == ERANGE ? "" : " errno changed");
}

std::string form(const CQIRSerialObject& object) {
    const std::string bytes = elements(object.serialize());
    const bool agree = elements(object.operator Bytes()) == bytes && !object.isEncrypted() &&
                       !object.isCompressed();
    return bytes + " " + std::to_string(object.serializedSize()) + (agree ? "" : " disagree");
}

template <class S>
using Op = std::function<std::string(const S&, const S&, const harness::Row&)>;

template <class S, class B = CQIRBuffer<CharOf<S>>>
const std::map<std::string, Op<S>> kOps = {
    {"from", [](const S& l, const S&, const harness::Row&) { return elements(S(asBuffer(l))); }},
    {"from8",
     [](const S&, const S&, const harness::Row& r) { return elements(S(make<char>(r.left))); }},
    {"copy", [](const S& l, const S&, const harness::Row&) { return elements(S(l)); }},
    {"assign", [](const S& l, const S& r, const harness::Row&) { return elements(S(r) = l); }},
    {"self=", [](const S& l, const S&, const harness::Row&) { return elements(selfAssigned(l)); }},
    {"plus", [](const S& l, const S& r, const harness::Row&) { return elements(l + r); }},
    {"order",
     [](const S& l, const S& r, const harness::Row&) {
         return std::to_string(l <= r) + std::to_string(l >= r) + std::to_string(l < r) +
                std::to_string(l > r);
     }},
    {"nocase", [](const S& l, const S& r, const harness::Row&) { return yes(l.equalsNoCase(r)); }},
    {"length",
     [](const S& l, const S&, const harness::Row&) { return std::to_string(l.length()); }},
    {"parse", [](const S& l, const S&, const harness::Row& r) { return parsed(l, r.n); }},
    {"case", [](const S& l, const S&, const harness::Row& r) { return cased(l, r.n == 1); }},
    // Through the buffer's table, which reaches the string's own conversion.
    {"units",
     [](const S& l, const S&, const harness::Row&) {
         return elements(asBuffer(l).operator CQIRBuffer<qir_wchar_t>());
     }},
    {"bytes",
     [](const S& l, const S&, const harness::Row&) {
         return elements(asBuffer(l).operator CQIRBuffer<char>());
     }},
    {"form", [](const S& l, const S&, const harness::Row&) { return form(l); }},
    {"text", [](const S&, const S&,
                const harness::Row& r) { return elements(Wide(text(r.left).c_str())); }},
    {"number", [](const S&, const S&,
                  const harness::Row& r) { return elements(Wide(std::stoi(r.left), r.n)); }},
};

class StringTest : public testing::TestWithParam<const char*> {};

TEST_P(StringTest, AnswersAsTheTableSaysAndReportsNothing) {
    const harness::Row r = harness::row(GetParam());
    forEachString([&](auto tag) {
        using S = decltype(tag);
        SCOPED_TRACE(letter<S>());
        if (r.op.rfind("w.", 0) == 0 && letter<S>() == 'c') {
            return;  // the UTF-16 class only
        }
        const std::string op = r.op.substr(r.op.rfind("w.", 0) == 0 ? 2 : 0);
        ASSERT_EQ(kOps<S>.count(op), 1u) << op;
        harness::check(
            r.script, letter<S>(), [&] { return std::make_pair(raw<S>(r.left), std::string()); },
            [&](std::pair<S, std::string>& j) {
                j.second = kOps<S>.at(op)(j.first, raw<S>(r.right), r);
            },
            [&](std::pair<S, std::string>& j) {
                return j.second + (elements(j.first) == elements(raw<S>(r.left)) ? "" : " changed");
            });
    });
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StringTest,
    testing::Values(
        // Text up to the first zero, then one zero; no storage when empty.
        "from | > empty", "from ~ | > empty", "from ~a | > empty", "from ab | > ab~",
        "from a~bc | > a~", "from xy~~~ | > xy~", "from8 | > empty", "from8 ~a | > empty",
        "from8 ab | > ab~", "from8 a~bc | > a~", "w.text a_b<9>c | > a_b<9>c~", "w.text | > empty",
        // Copies keep the elements as they are.
        "copy a~b | > a~b", "assign a~b xyz~ | > a~b", "self= a~b | > a~b",
        // The right operand as it is, over the left one's first zero.
        "plus abc~ de~ | > abcde~", "plus empty de~ | > de~", "plus abc~ | > abc~",
        "plus | > empty", "plus a~x~ d~ | > ad~", "plus ~x d~ | > d~", "plus a~ d~e | > ad~e",
        // <= >= < >: the texts over the shorter count as unsigned elements, then the counts.
        "order abc~ abc~ | > 1100", "order ab~ abc~ | > 1010", "order abc~ ab~ | > 0100",
        "order b~ ab~ | > 0001", "order ab~ b~ | > 0000", "order ba~ a~ | > 0100",
        "order abd~ abc~ | > 0101", "order abc~ abd~ | > 1010", "order abc~ b~ | > 0000",
        "order empty a~ | > 0000", "order a~ | > 0000", "order | > 1100", "order <e9>~ e~ | > 0101",
        "order a~x a~y | > 1100", "order 7ab 7a | > 0100", "nocase aBc1~ AbC1~ | > true",
        "nocase abc~ abcd~ | > false", "nocase abc~ abd~ | > false", "nocase a[~ a{~ | > false",
        "nocase | > true", "nocase empty a~ | > false", "nocase Ab aB | > true",
        "nocase Ab ac | > false", "length a~b~ | > 1", "length | > 0", "length ab | > 2",
        // A 32-bit strtol: the nearest limit and false where it sets ERANGE. Radix 99: strtod.
        "parse:10 __-42x~ | > true -42", "parse:16 ff~ | > true 255", "parse:0 0x1F~ | > true 31",
        "parse:36 z~ | > true 35", "parse:10 2147483647~ | > true 2147483647",
        "parse:10 2147483648~ | > false 2147483647", "parse:10 -2147483648~ | > true -2147483648",
        "parse:10 -2147483649~ | > false -2147483648",
        "parse:10 -99999999999999999999~ | > false -2147483648",
        "parse:16 100000000~ | > false 2147483647", "parse:10 | > false 77",
        "parse:1 1~ | > false 77", "parse:37 1~ | > false 77", "parse:16 7ab | > true 1963",
        "parse:99 _-2.5e3x~ | > true -2500", "parse:99 1e999~ | > false inf",
        "parse:99 | > false 77", "parse:99 42 | > true 42",
        // ASCII letters before the last element.
        "case:1 Mixed_Case_1z~ | > true MIXED_CASE_1Z~",
        "case:0 Mixed_Case_1z~ | > true mixed_case_1z~", "case:1 ab | > true Ab",
        "case:0 | > false empty", "case:1 | > false empty",
        "case:0 <c9>E<e9>e<df>~ | > true <c9>e<e9>e<df>~",
        "case:1 <c9>E<e9>e<df>~ | > true <c9>E<e9>E<df>~", "units abc~ | > abc~", "units | > empty",
        "bytes abc~ | > abc~", "bytes | > empty",
        // A character without an 8-bit form: the bytes before it, then zeros.
        "w.bytes ab<100>c~ | > ab~~~", "form abc~ | > <1><4>~~~abc~ 9", "form | > <1>~~~~ 5",
        "form 7ab | > <1><3>~~~7ab 8", "w.form a<100>b~ | > <1><4>~~~a~~~ 9",
        // Radix 10 signed, the others the 32-bit pattern unsigned; no radix outside 2 to 36.
        "w.number:10 0 | > 0~", "w.number:10 -2147483648 | > -2147483648~",
        "w.number:10 2147483647 | > 2147483647~",
        "w.number:2 -1 | > 11111111111111111111111111111111~", "w.number:8 -8 | > 37777777770~",
        "w.number:16 255 | > ff~", "w.number:36 35 | > z~", "w.number:0 5 | > empty",
        "w.number:1 5 | > empty", "w.number:37 5 | > empty", "w.number:65535 -1 | > empty"));

// An operation making R from the strings `l` and `r`, each allocation failing in turn.
template <class R, class S, class F>
void sweep(const char* l, const char* r, F build, const std::string& script) {
    struct Job {
        S l, r;
        R made{};
    };
    harness::check(
        script, letter<S>(),
        [&] {
            return Job{raw<S>(l), raw<S>(r)};
        },
        [&](Job& j) {
            R made = build(j.l, j.r);
            j.made.swap(made);
        },
        [](Job& j) { return elements(j.made); });
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

TEST(StringAllocationTest, EachFailureLeavesAValidStringAndItsReports) {
    // From elements: the copy, the terminator, appending it (old elements, new storage), and
    // cutting after the first zero, whose copy failing leaves the text uncut.
    sweep<MultiByte, MultiByte>(
        "ab~x", "", [](const MultiByte& l, const MultiByte&) { return MultiByte(asBuffer(l)); },
        "900/4 507 > empty; 900/1 450 > empty; 900/4 507 > empty; 900/5 > empty; "
        "900/5 507 74 > ab~x~; 900/3 74 > empty; > ab~");
    sweep<Wide, Wide>(
        "", "", [](const Wide&, const Wide&) { return Wide("abc"); }, "900/4 > empty; > abc~");
    sweep<Wide, MultiByte>(
        "ab", "", [](const MultiByte& l, const MultiByte&) { return Wide(asBuffer(l)); },
        "900/1 450 > empty; 900/2 507 > empty; 900/2 507 561 > empty; 900/3 561 > empty; "
        "900w/3 > empty; 900w/3 507w > empty; > ab~");
    // Trimming the 33 elements of a number: the digits stay in them, or go with them.
    sweep<Wide, Wide>(
        "", "", [](const Wide&, const Wide&) { return Wide(255, 16); },
        "900/33 > empty; 900/33 507 > ff" + std::string(31, '~') + "; 900/3 > empty; > ff~");
    // The working string of the left operand failing: only the right one arrives.
    sweep<Wide, Wide>(
        "abc~", "de~", [](const Wide& l, const Wide& r) { return l + r; },
        "900/4 507 > de~; 900/1 450 > de~; 900/4 507 > de~; 900/5 > de~; 900/5 507 > abcde~; "
        "900/4 > de~; 900/4 507 54 > abc~; 900/6 54 > empty; > abcde~");
    sweep<CQIRBuffer<qir_wchar_t>, MultiByte>(
        "abc~", "", [](const MultiByte& l, const MultiByte&) { return CQIRBuffer<qir_wchar_t>(l); },
        "900w/4 450w 364 > empty; > abc~");
    sweep<CQIRBuffer<char>, Wide>(
        "abc~", "", [](const Wide& l, const Wide&) { return CQIRBuffer<char>(l); },
        "900c/4 450c > empty; > abc~");
    // A form of the wrong size is emptied, reported by the 8-bit class and by the conversion.
    const auto serialize = [](const auto& l, const auto&) { return l.serialize(); };
    const auto form = [](const auto& l, const auto&) { return Bytes(l); };
    sweep<Bytes, MultiByte>("abc~", "", serialize, "900/4 507 421 > empty; " + formRows(" 421"));
    sweep<Bytes, MultiByte>("abc~", "", form, "900/4 507 421 239 > empty; " + formRows(" 421 239"));
    sweep<Bytes, Wide>("abc~", "", serialize, "900c/4 450c > empty; " + formRows(""));
    sweep<Bytes, Wide>("abc~", "", form, "900c/4 450c 239 > empty; " + formRows(" 239"));
}

// Parsing storage without a zero of its own needs a terminated copy of it.
TEST(StringAllocationTest, WithoutATerminatedCopyNothingIsParsed) {
    forEachString([](auto tag) {
        using S = decltype(tag);
        struct Job {
            S s;
            int32_t number;
            double real;
            bool ok[2];
        };
        harness::check(
            "900/3 > false 77 true 42; 900/3 > true 42 false 77; > true 42 true 42", letter<S>(),
            [] {
                return Job{raw<S>("42"), 77, 77, {}};
            },
            [](Job& j) { j.ok[0] = j.s.toLong(j.number, 10), j.ok[1] = j.s.toDouble(j.real); },
            [](Job& j) {
                return yes(j.ok[0]) + " " + std::to_string(j.number) + " " + yes(j.ok[1]) + " " +
                       std::to_string(int(j.real));
            });
    });
}

class StringReadTest : public testing::TestWithParam<const char*> {};

TEST_P(StringReadTest, TakesOneFormFromTheFrontOrChangesNothing) {
    const harness::Row r = harness::row(GetParam());
    forEachString([&](auto tag) {
        using S = decltype(tag);
        struct Job {
            S s;
            Bytes in;
            bool ok;
        };
        if (r.op == "read" || r.op == std::string("read.") + letter<S>()) {
            harness::check(
                r.script, letter<S>(),
                [&] {
                    return Job{raw<S>("zz~"), make<unsigned char>(r.left), false};
                },
                [](Job& j) { j.ok = j.s.deserialize(j.in); },
                [&](Job& j) { return yes(j.ok) + " " + elements(j.s) + " " + elements(j.in); });
        }
    });
}

// Every failure on the way leaves the string and the bytes as they were.
std::string unchanged(std::initializer_list<const char*> rows) {
    std::string script;
    for (const char* codes : rows) {
        script += std::string(codes) + " > false zz~ <1><3>~~~ab~<1><3>~~~cd~; ";
    }
    return script + "> true ab~ <1><3>~~~cd~";
}

const std::string kFailures[] = {
    "read.c <1><3>~~~ab~<1><3>~~~cd~ | " +
        unchanged({"900b/3 450b", "900c/3 472c", "900c/3 507c", "900/3 507", "900/1 450",
                   "900/3 507", "900/4", "900/4 507 74", "900/3 74", "900b/8 450b"}),
    "read.w <1><3>~~~ab~<1><3>~~~cd~ | " +
        unchanged({"900b/3 450b", "900c/3 472c", "900c/3 507c", "900c/1 450c", "900c/3 507c",
                   "900c/3 507c 561c", "900c/4 561c", "900/3", "900/3 507", "900b/8 450b"}),
};

INSTANTIATE_TEST_SUITE_P(
    Forms, StringReadTest,
    testing::Values("read <1><3>~~~ab~<1><3>~~~cd~ | > true ab~ <1><3>~~~cd~",
                    "read <1><2>~~~z~<9> | > true z~ <9>", "read <1>~~~~ | > true empty empty",
                    "read <1><1>~~~~ | > true empty empty", "read <1><4>~~~a~b~ | > true a~ empty",
                    "read <1><2>~~~ab | > true ab~ empty", "read | > true empty empty",
                    "read <2><4>~~~abc~ | 321 > false zz~ <2><4>~~~abc~",
                    "read ~~~~~ | 321 > false zz~ ~~~~~",
                    "read <1><5>~~~abc~ | > false zz~ <1><5>~~~abc~",
                    "read <1><ff><ff><ff><ff>abc~ | > false zz~ <1><ff><ff><ff><ff>abc~",
                    "read <1><4>~ | 1316b > false zz~ <1><4>~", "read <1> | 1316b > false zz~ <1>",
                    kFailures[0].c_str(), kFailures[1].c_str()));

TEST(StringFormTest, FormsComeBackInOrderWhicheverClassWroteThem) {
    forEachString([](auto tag) {
        using S = decltype(tag);
        Bytes in = raw<Wide>("first~").serialize() + MultiByte().serialize() +
                   raw<MultiByte>("third_one~").serialize() + Wide().serialize();
        std::string read;
        for (S s; in.getSize() != 0;) {
            EXPECT_TRUE(s.deserialize(in));
            read += elements(s) + " ";
        }
        EXPECT_EQ(read + elements(in), "first~ empty third_one~ empty empty");
    });
}

// A length that the bytes do not hold is refused before anything is allocated.
TEST(StringFormTest, ARefusedLengthAllocatesNothing) {
    forEachString([](auto s) {
        for (const char* length : {"<5>~~~", "<fb><ff><ff><ff>", "<ff><ff><ff><ff>"}) {
            Bytes in = make<unsigned char>(std::string("<1>") + length + "abc~");
            allocseam::Counting counting;
            EXPECT_FALSE(s.deserialize(in));
            EXPECT_EQ(counting.requests(), 0u) << length;
        }
    });
}

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
    // 8-bit text of fewer characters than bytes gives its units and is reported; text that
    // does not convert is reported with the conversion's own error code.
    const auto units = [](const MultiByte& l, const MultiByte&) {
        return CQIRBuffer<qir_wchar_t>(l);
    };
    sweep<CQIRBuffer<qir_wchar_t>, MultiByte>((character + "b~").c_str(), "", units,
                                              "359 > " + unit + "b~~");
    const auto lines = harness::reports([&] { units(raw<MultiByte>(invalid), MultiByte()); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(harness::maskCode(lines[0]),
              harness::maskCode(harness::expectedLine("359", 'c', true)));
    // A UTF-16 string takes one unit for every byte, or nothing.
    EXPECT_EQ(elements(Wide(text(character + "b").c_str())), "empty");
    EXPECT_EQ(elements(Wide(text(invalid).c_str())), "empty");
    // Its bytes stop where its element count does: here before the zero.
    EXPECT_EQ(elements(CQIRBuffer<char>(raw<Wide>(unit + "b~"))), character + "b");
    // 8-bit text comes back from its form as it was written.
    Bytes in = raw<MultiByte>(character + "b~").serialize();
    MultiByte back;
    EXPECT_TRUE(back.deserialize(in));
    EXPECT_EQ(elements(back), character + "b~");
}

}  // namespace
