// Log strings of both widths: their operations with each allocation failing in turn, the raw
// form written and read back (hostile headers included), and the conversions between the
// widths in the "C" locale and in a multibyte one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "alloc_seam.h"
#include "qir_log_string.h"
#include "scoped_locale.h"
#include "string_harness.h"

namespace {

using Narrow = CQIRLogStringMultiByte;
using Wide = CQIRLogStringWChar;

template <class S>
using CharOf = std::remove_const_t<std::remove_pointer_t<decltype(std::declval<S&>().getBuffer())>>;

// A log string whose storage holds exactly these elements.
template <class S>
S raw(const std::string& text) {
    const std::vector<uint32_t> values = harness::parse(text);
    S s;
    if (s.resize(static_cast<uint32_t>(values.size())) && !values.empty()) {
        std::copy(values.begin(), values.end(), const_cast<CharOf<S>*>(s.getBuffer()));
    }
    return s;
}

// The objects of a row: operands l and r (r also as bytes, UTF-16 units and 8-bit text), what
// the operation makes, room for a raw form and two more bytes, and the outcome.
template <class S>
struct Job {
    S l, r;
    std::vector<unsigned char> bytes;
    std::vector<qir_wchar_t> units;
    std::string text;
    S s{};
    Wide made{};
    std::vector<unsigned char> out = std::vector<unsigned char>(48, 0xEE);
    uint32_t consumed = 99;
};

// The elements up to the first zero and the zero, then "+N" for N more elements of storage.
template <class S>
harness::Out& put(harness::Out& o, const S& s) {
    uint32_t n = 0;
    while (n < s.getSize() && s.getBuffer()[n++] != 0) {
    }
    char more[16] = "";
    if (n < s.getSize()) {
        std::snprintf(more, sizeof more, "+%u", s.getSize() - n);
    }
    o.write(s.getBuffer(), n).text += more;
    return o;
}

template <class S>
std::string elements(const S& s) {
    harness::Out o;
    return put(o, s).text;
}

// Runs row.op on the job and writes its outcome.
template <class S>
void act(const harness::Row& row, Job<S>& j, harness::Out& o) {
    const std::string& op = row.op;
    const uint32_t n = row.n;
    const uint32_t size = n != 0 ? n : static_cast<uint32_t>(j.bytes.size());
    op == "plus"       ? put(o, j.s = j.l + j.r)
    : op == "add"      ? put(o, j.l += j.r)
    : op == "addSelf"  ? put(o, j.l += j.l)
    : op == "assign"   ? put(o, j.l = j.r)
    : op == "self="    ? put(o, j.l = *&j.l)
    : op == "front"    ? put(o, j.s = j.l << n)
    : op == "back"     ? put(o, j.s = j.l >> n)
    : op == "equal"    ? o << harness::yes(j.l == j.r) << harness::yes(j.l != j.r)
    : op == "contains" ? o << harness::yes(j.l.contains(j.r))
    : op == "toLong"   ? o << j.l.toLong()
    : op == "write" ? (o << harness::yes(j.l.serialize(j.out.data(), n))).write(j.out.data(), n + 2)
    : op == "size"  ? o << j.l.serializedSize()
    : op == "writeNull" ? o << harness::yes(j.l.serialize(nullptr, n))
    : op == "readNull"  ? o << harness::yes(j.l.deserialize(nullptr, n, j.consumed)) << j.consumed
    : op == "read" ? put(o << harness::yes(j.l.deserialize(j.bytes.data(), size, j.consumed)), j.l)
                         << j.consumed
    : op == "number" ? put(o, j.made = Wide(n, 10))
    : op == "text"   ? put(o, j.s = S(j.text.empty() ? nullptr : j.text.c_str()))
    : op == "units"  ? put(o, j.s = S(j.units.empty() ? nullptr : j.units.data()))
                     : o << "no such operation";
}

template <class S>
void checkRow(const std::string& text) {
    const harness::Row r = harness::row(text);
    const std::vector<uint32_t> bytes = harness::parse(r.right);
    harness::check(
        r.script, 'c',
        [&] {
            return Job<S>{raw<S>(r.left),
                          raw<S>(r.right),
                          {bytes.begin(), bytes.end()},
                          {bytes.begin(), bytes.end()},
                          {bytes.begin(), bytes.end()}};
        },
        [&](Job<S>& j, harness::Out& o) { act(r, j, o); });
}

class LogStringTest : public testing::TestWithParam<std::string> {};

TEST_P(LogStringTest, WritesTheOutcomeOfItsScript) {
    harness::forEachType<Narrow, Wide>(GetParam(),
                                       [&](auto tag) { checkRow<decltype(tag)>(GetParam()); });
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LogStringTest,
    testing::Values(
        // A failed allocation leaves the string empty; the working copy failing, only the right
        // operand arrives.
        "plus abc~ de~ | > de~; > empty; > abcde~", "plus abc~ | > empty; > abc~",
        "plus empty de~ | > empty; > de~", "plus | > empty", "add ab~ cd~xy | > empty; > abcd~",
        "addSelf ab~ | > empty; > abab~", "assign abc~ xyz1~ | > empty; > xyz1~",
        "self= abc~ | > abc~", "front abc~ | > empty; > abc~",
        "front:2 abc~ | > empty; > empty; > c~", "back:2 abc~ | > empty; > empty; > a~",
        "front:3 abc~ | > empty; > empty", "back:9 abc~ | > empty; > empty", "back:1 | > empty",
        "equal abc~ abc~ | > true false", "equal abc~ abd~ | > false true",
        "equal abc~ ab~ | > false true", "equal | > true false", "equal empty a~ | > false true",
        "equal a~x a~y | > true false", "contains abc~ b~ | > true", "contains abc~ abc~ | > true",
        "contains abc~ bc~ | > true", "contains abc~ abcd~ | > false",
        "contains abc~ ac~ | > false", "contains abc~ | > false", "contains empty a~ | > false",
        // Decimal, saturating as a 32-bit strtol does.
        "toLong _-17z~ | > -17", "toLong +8~ | > 8", "toLong x~ | > 0", "toLong | > 0",
        "toLong 2147483647~ | > 2147483647", "toLong 2147483648~ | > 2147483647",
        "toLong -2147483648~ | > -2147483648", "toLong -99999999999~ | > -2147483648",
        // The value as a signed 32-bit decimal number.
        "w.number:1234 | > empty; > empty; > 1234~", "w.number:0 | > 0~",
        "w.number:0xffffffff | > -1~", "w.number:0x7fffffff | > 2147483647~",
        "w.number:0x80000000 | > -2147483648~",
        // 8-bit text, or UTF-16 units, converted in the locale ("C" here).
        "text empty abc | > empty; > abc~", "units empty abc | > empty; > abc~", "text | > empty",
        "units | > empty",
        // L = length() + 1 and exactly L + 5 bytes, whatever the storage holds after the text.
        "write:8 ab~ | > true <1><3>~~~ab~<ee><ee>",
        "write:7 ab~ | > false <ee><ee><ee><ee><ee><ee><ee><ee><ee>",
        "write:9 ab~xy | > true <1><3>~~~ab~<ee><ee><ee>", "size ab~xy | > 8", "size ~ab | > 6",
        "write:6 | > true <1><1>~~~~<ee><ee>", "write:6 ~ab | > true <1><1>~~~~<ee><ee>",
        "writeNull:6 | > false",
        // The 8-bit string's reads of either format, each allocation failing in turn.
        "c.read keep~ <1><3>~~~ab~ | > false keep~ 99; > true ab~ 8",
        "c.read keep~ <2><6>~~~a~b~~~ | > false keep~ 99; > false keep~ 99; > true ab~ 11",
        "read keep~ <1><3>~~~ab~<1><1> | > true ab~ 8",
        "read:7 keep~ <1><3>~~~ab~ | > false keep~ 99",
        "c.read keep~ <1><4>~~~a~b~ | > true a~+2 9", "w.read keep~ <1><4>~~~a~b~ | > true a~ 9",
        // L <= 1 is the empty string, whose form takes all six bytes.
        "read keep~ <1><1>~~~~ | > true empty 6", "read keep~ <1>~~~~~ | > true empty 6",
        "read keep~ <1>~~~~ | > false keep~ 99", "read keep~ ~~~~~ | > false keep~ 99",
        "read keep~ ~<3>~~~ab~ | > false keep~ 99", "read keep~ <3><3>~~~ab~ | > false keep~ 99",
        "read keep~ <1><3>~ | > false keep~ 99",
        // L is checked in 64 bits, and must hold the text's zero (an even count in format 2).
        "read keep~ <1><ff><ff><ff><ff>a~ | 0 > false keep~ 99",
        "read keep~ <1><f0><ff><ff><7f>a~ | 0 > false keep~ 99",
        "readNull:100 keep~ | 0 > false 99", "read keep~ <1><fc><ff><ff><ff>a~ | > false keep~ 99",
        "read keep~ <1><2>~~~ab | > false keep~ 99", "read keep~ <2><5>~~~a~b~~ | > false keep~ 99",
        "read keep~ <2><4>~~~a~b~ | > false keep~ 99", "read keep~ <2><1>~~~~ | > false keep~ 99",
        // A lone surrogate: no 8-bit text in any locale, through which both widths read.
        "read keep~ <2><6>~~~a~=<d8>~~ | > false keep~ 99"));

TEST(LogStringTest, MovesHandTheStorageOverAndTheSameSizeKeepsIt) {
    const auto check = [](auto source) {
        const auto* storage = source.getBuffer();
        decltype(source) moved(std::move(source));
        decltype(source) target = raw<decltype(source)>("xyz~");
        target = std::move(moved);
        {
            allocseam::Failing none(0);
            EXPECT_TRUE(target.getBuffer() == storage && target.resize(4) && !moved.resize(1));
        }
        EXPECT_EQ(elements(source) + " " + elements(moved) + " " + elements(target),
                  "empty empty abc~");
    };
    check(raw<Narrow>("abc~"));
    check(raw<Wide>("abc~"));
}

// A multibyte locale and a text in it, its UTF-16 units, bytes it rejects and a character it
// has no bytes for.
class LogStringLocaleTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!locale.active()) {
            GTEST_SKIP() << "no multibyte locale in this C runtime";
        }
    }
    testlocale::ScopedLocale locale{testlocale::multiByteLocales()};
    const bool utf8 = locale.name().find("UTF-8") != std::string::npos;
    const std::string bytes = utf8 ? "a<c3><a9><f0><9f><98><80>" : "a<82><a0>";
    const std::string units = utf8 ? "a<e9><d83d><de00>~" : "a<3042>~";
};

TEST_F(LogStringLocaleTest, ConvertsInTheLocaleAndWritesTheBytesItsFormDeclares) {
    // Storage of one unit for every byte, and of MB_CUR_MAX bytes for every unit.
    const size_t byteCount = harness::parse(bytes).size();
    const size_t unitCount = harness::parse(units).size();
    checkRow<Wide>("text empty " + bytes + " | > " + units + "+" +
                   std::to_string(byteCount + 1 - unitCount));
    checkRow<Narrow>("units empty " + units + " | > " + bytes + "~+" +
                     std::to_string(unitCount * MB_CUR_MAX - byteCount - 1));
    checkRow<Wide>(std::string("text empty ") + (utf8 ? "a<ff>" : "a<82>") + " | > empty");
    checkRow<Narrow>(std::string("units empty ") + (utf8 ? "a<d800>~" : "a<e01>~") + " | > empty");
    // Either width writes the text's bytes and its zero after the header; they read back.
    const std::string size = std::to_string(byteCount + 6);
    const std::string form = "<1><" + std::to_string(byteCount + 1) + ">~~~" + bytes + "~";
    checkRow<Wide>("write:" + size + " " + units + " | > true " + form + "<ee><ee>");
    checkRow<Narrow>("write:" + size + " " + bytes + "~ | > true " + form + "<ee><ee>");
    checkRow<Wide>("read keep~ " + form + "<ee> | > true " + units + "+" +
                   std::to_string(byteCount + 1 - unitCount) + " " + size);
}

}  // namespace
