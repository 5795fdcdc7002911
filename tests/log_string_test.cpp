// Log strings of both widths: their operations with each allocation failing in turn, the raw
// form written and read back (hostile headers included), and the conversions between the
// widths in the "C" locale and in a multibyte one.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "alloc_seam.h"
#include "log_text.h"
#include "qir_log_string.h"
#include "scoped_locale.h"
#include "string_harness.h"

namespace {

using Narrow = CQIRLogStringMultiByte;
using Wide = CQIRLogStringWChar;

template <class S>
using CharOf = std::remove_const_t<std::remove_pointer_t<decltype(std::declval<S&>().getBuffer())>>;

template <class S>
std::string elements(const S& s) {
    return harness::elements(s.getBuffer(), s.getSize());
}

// A log string whose storage holds exactly these elements (harness::parse).
template <class S>
S raw(const std::string& text) {
    const std::vector<uint32_t> values = harness::parse(text);
    S s;
    if (s.resize(static_cast<uint32_t>(values.size())) && !values.empty()) {
        std::copy(values.begin(), values.end(), const_cast<CharOf<S>*>(s.getBuffer()));
    }
    return s;
}

template <class F>
void forEachWidth(F f) {
    f(Narrow());
    f(Wide());
}

// The raw form written into n bytes (toNull: to no bytes at all), two more bytes after them
// showing that nothing else is written, and the size the string says it takes.
template <class S>
std::string written(const S& s, uint32_t n, bool toNull) {
    std::vector<unsigned char> out(n + 2, 0xEE);
    const bool ok = s.serialize(toNull ? nullptr : out.data(), n);
    return harness::yes(ok) + " " + harness::elements(out.data(), n + 2) + " " +
           std::to_string(s.serializedSize());
}

template <class S>
struct Job {
    S s, other;
    std::string answer;  // of operations that answer rather than change s
};

template <class S>
const std::map<std::string, std::function<void(Job<S>&, uint32_t)>> kOps = {
    {"plus", [](Job<S>& j, uint32_t) { j.s = j.s + j.other; }},
    {"add", [](Job<S>& j, uint32_t) { j.s += j.other; }},
    {"addSelf", [](Job<S>& j, uint32_t) { j.s += j.s; }},
    {"assign", [](Job<S>& j, uint32_t) { j.s = j.other; }},
    {"self=", [](Job<S>& j, uint32_t) { j.s = *&j.s; }},
    {"front", [](Job<S>& j, uint32_t n) { j.s = j.s << n; }},
    {"back", [](Job<S>& j, uint32_t n) { j.s = j.s >> n; }},
    {"equal",
     [](Job<S>& j, uint32_t) {
         j.answer = std::to_string(j.s == j.other) + std::to_string(j.s != j.other);
     }},
    {"contains", [](Job<S>& j, uint32_t) { j.answer = harness::yes(j.s.contains(j.other)); }},
    {"toLong", [](Job<S>& j, uint32_t) { j.answer = std::to_string(j.s.toLong()); }},
    {"write", [](Job<S>& j, uint32_t n) { j.answer = written(j.s, n, false); }},
    {"writeNull", [](Job<S>& j, uint32_t n) { j.answer = written(j.s, n, true); }},
};

class LogStringTest : public testing::TestWithParam<const char*> {};

TEST_P(LogStringTest, AnswersOrChangesAsTheTableSays) {
    const harness::Row r = harness::row(GetParam());
    forEachWidth([&](auto tag) {
        using S = decltype(tag);
        SCOPED_TRACE(sizeof(CharOf<S>));
        ASSERT_EQ(kOps<S>.count(r.op), 1u) << r.op;
        const auto& op = kOps<S>.at(r.op);
        harness::check(
            r.script, 'c',
            [&] {
                return Job<S>{raw<S>(r.left), raw<S>(r.right), ""};
            },
            [&](Job<S>& j) { op(j, r.n); },
            [](Job<S>& j) { return j.answer.empty() ? elements(j.s) : j.answer; });
    });
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LogStringTest,
    testing::Values(
        // A failed allocation leaves the string empty.
        "plus abc~ de~ | > de~; > empty; > abcde~", "plus abc~ | > empty; > abc~",
        "plus empty de~ | > empty; > de~", "plus | > empty", "add ab~ cd~xy | > empty; > abcd~",
        "addSelf ab~ | > empty; > abab~", "assign abc~ xyz1~ | > empty; > xyz1~",
        "self= abc~ | > abc~", "front abc~ | > empty; > abc~", "back abc~ | > empty; > abc~",
        "front:2 abc~ | > empty; > empty; > c~", "back:2 abc~ | > empty; > empty; > a~",
        "front:3 abc~ | > empty; > empty", "back:9 abc~ | > empty; > empty", "back:1 | > empty",
        "equal abc~ abc~ | > 10", "equal abc~ abd~ | > 01", "equal abc~ ab~ | > 01", "equal | > 10",
        "equal empty a~ | > 01", "equal a~x a~y | > 10", "contains abc~ b~ | > true",
        "contains abc~ abc~ | > true", "contains abc~ bc~ | > true",
        "contains abc~ abcd~ | > false", "contains abc~ ac~ | > false", "contains abc~ | > false",
        "contains empty a~ | > false",
        // Decimal, saturating as a 32-bit strtol does.
        "toLong _-17z~ | > -17", "toLong +8~ | > 8", "toLong x~ | > 0", "toLong | > 0",
        "toLong 2147483647~ | > 2147483647", "toLong 2147483648~ | > 2147483647",
        "toLong -2147483648~ | > -2147483648", "toLong -99999999999~ | > -2147483648",
        // L = length() + 1 and exactly L + 5 bytes, whatever the storage holds after the text.
        "write:8 ab~ | > true <1><3>~~~ab~<ee><ee> 8",
        "write:7 ab~ | > false <ee><ee><ee><ee><ee><ee><ee><ee><ee> 8",
        "write:9 ab~xy | > true <1><3>~~~ab~<ee><ee><ee> 8",
        "write:6 | > true <1><1>~~~~<ee><ee> 6", "write:6 ~ab | > true <1><1>~~~~<ee><ee> 6",
        "writeNull:6 | > false <ee><ee><ee><ee><ee><ee><ee><ee> 6"));

class LogStringReadTest : public testing::TestWithParam<const char*> {};

TEST_P(LogStringReadTest, ReadsTheRawFormOrLeavesTheStringAlone) {
    const harness::Row r = harness::row(GetParam());
    const std::vector<uint32_t> values = harness::parse(r.left);
    const std::vector<unsigned char> bytes(values.begin(), values.end());
    forEachWidth([&](auto tag) {
        using S = decltype(tag);
        struct Read {
            S s;
            uint32_t consumed = 99;
            bool ok = false;
        };
        // The 8-bit string's reads of the two formats, each allocation failing in turn.
        if (std::is_same_v<S, Narrow> || r.script.find(';') == std::string::npos) {
            harness::check(
                r.script, 'c', [] { return Read{raw<S>("keep~")}; },
                [&](Read& x) {
                    x.ok = x.s.deserialize(bytes.data(), r.n != 0 ? r.n : uint32_t(bytes.size()),
                                           x.consumed);
                },
                [](Read& x) {
                    return harness::yes(x.ok) + " " + logtext::ascii(x.s) + " " +
                           std::to_string(x.consumed);
                });
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LogStringReadTest,
    testing::Values(
        "read <1><3>~~~ab~ | > false keep 99; > true ab 8",
        "read <2><6>~~~a~b~~~ | > false keep 99; > false keep 99; > true ab 11",
        "read <1><3>~~~ab~<1><1> | > true ab 8", "read:7 <1><3>~~~ab~ | > false keep 99",
        "read <1><4>~~~a~b~ | > true a 9",
        // L <= 1 is the empty string, whose form takes all six bytes.
        "read <1><1>~~~~ | > true <empty> 6", "read <1>~~~~~ | > true <empty> 6",
        "read <1>~~~~ | > false keep 99", "read ~~~~~ | > false keep 99",
        "read ~<3>~~~ab~ | > false keep 99", "read <3><3>~~~ab~ | > false keep 99",
        "read <1><3>~ | > false keep 99",
        // L is checked in 64 bits, and must hold the text's zero (an even count of bytes in format
        // 2).
        "read <1><ff><ff><ff><ff>a~ | > false keep 99",
        "read <1><fc><ff><ff><ff>a~ | > false keep 99", "read <1><2>~~~ab | > false keep 99",
        "read <2><5>~~~a~b~~ | > false keep 99", "read <2><4>~~~a~b~ | > false keep 99",
        "read <2><1>~~~~ | > false keep 99",
        // A lone surrogate: no 8-bit text in any locale, through which both widths read.
        "read <2><6>~~~a~=<d8>~~ | > false keep 99"));

TEST(LogStringReadTest, RefusesNullAndHostileLengthsWithoutAllocating) {
    const unsigned char hostile[] = {1, 0xF0, 0xFF, 0xFF, 0x7F, 'a', 0};
    Narrow s = raw<Narrow>("keep~");
    uint32_t consumed = 7;
    allocseam::Counting counting;
    EXPECT_FALSE(s.deserialize(nullptr, 100, consumed));
    EXPECT_FALSE(s.deserialize(hostile, sizeof hostile, consumed));
    EXPECT_EQ(counting.requests(), 0u);
    EXPECT_EQ(elements(s) + " " + std::to_string(consumed), "keep~ 7");
}

// Builds a string with each allocation failing in turn.
template <class S, class F>
void build(F f, const std::string& script) {
    struct Made {
        S s;
    };
    harness::check(
        script, 'c', [] { return Made(); }, [&](Made& m) { m.s = f(); },
        [](Made& m) { return elements(m.s); });
}

TEST(LogStringBuildTest, NumbersAndConversionsAreEmptyWithoutMemory) {
    // The value as a signed 32-bit decimal number, whatever the radix.
    build<Wide>([] { return Wide(1234, 16); }, "> empty; > empty; > 1234~");
    for (const auto& [value, text] :
         std::vector<std::pair<uint32_t, std::string>>{{0, "0~"},
                                                       {4294967295u, "-1~"},
                                                       {2147483647u, "2147483647~"},
                                                       {2147483648u, "-2147483648~"}}) {
        EXPECT_EQ(elements(Wide(value, 10)), text);
    }
    const std::vector<qir_wchar_t> units = {'a', 'b', 'c', 0};
    build<Wide>([] { return Wide("abc"); }, "> empty; > abc~");
    build<Wide>([&] { return Wide(units.data()); }, "> empty; > abc~");
    build<Narrow>([] { return Narrow("abc"); }, "> empty; > abc~");
    build<Narrow>([&] { return Narrow(units.data()); }, "> empty; > abc~");  // MB_CUR_MAX is 1
    build<Wide>([] { return Wide(static_cast<const char*>(nullptr)); }, "> empty");
    build<Narrow>([] { return Narrow(static_cast<const qir_wchar_t*>(nullptr)); }, "> empty");
}

TEST(LogStringStorageTest, MovesHandTheStorageOverAndCopiesAreDeep) {
    forEachWidth([](auto tag) {
        using S = decltype(tag);
        S source = raw<S>("abc~");
        const auto* storage = source.getBuffer();
        S moved(std::move(source));
        S target = raw<S>("xyz~");
        target = std::move(moved);
        EXPECT_EQ(target.getBuffer(), storage);
        EXPECT_EQ(elements(source) + " " + elements(moved) + " " + elements(target),
                  "empty empty abc~");
        S copy(target);
        target <<= 1;
        {
            allocseam::Failing none(0);
            EXPECT_TRUE(copy.resize(4));  // the same size keeps what it has
            EXPECT_FALSE(target.resize(9));
        }
        EXPECT_EQ(elements(copy) + " " + elements(target), "abc~ empty");
    });
}

// A multibyte locale and a text in it: its bytes, its UTF-16 units, bytes it rejects and a
// character it has no bytes for.
class LogStringLocaleTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!locale.active()) {
            GTEST_SKIP() << "no multibyte locale in this C runtime";
        }
    }
    testlocale::ScopedLocale locale{testlocale::multiByteLocales()};
    const bool utf8 = locale.name().find("UTF-8") != std::string::npos;
    const std::string bytes = utf8 ? "a\xc3\xa9\xf0\x9f\x98\x80" : "a\x82\xa0";  // Shift-JIS
    const std::string units = utf8 ? "a<e9><d83d><de00>~" : "a<3042>~";
    const Wide unconvertible = raw<Wide>(utf8 ? "a<d800>~" : "a<e01>~");
};

TEST_F(LogStringLocaleTest, ConvertsInTheLocaleAndWritesTheBytesItsFormDeclares) {
    const Wide wide(bytes.c_str());  // one unit of storage for every byte
    EXPECT_EQ(elements(wide).substr(0, units.size()), units);
    EXPECT_EQ(wide.getSize(), bytes.size() + 1);
    const Narrow narrow(raw<Wide>(units).getBuffer());  // MB_CUR_MAX bytes for every unit
    EXPECT_EQ(std::string(narrow.getBuffer()), bytes);
    EXPECT_EQ(narrow.getSize(), raw<Wide>(units).getSize() * MB_CUR_MAX);
    EXPECT_TRUE(Wide(utf8 ? "a\xff" : "a\x82").isEmpty());
    EXPECT_TRUE(Narrow(unconvertible.getBuffer()).isEmpty());
    // Either width: exactly the text's bytes and its zero after the header, and back.
    const uint32_t size = static_cast<uint32_t>(bytes.size()) + 6;
    std::vector<unsigned char> form = {1, static_cast<unsigned char>(bytes.size() + 1), 0, 0, 0};
    form.insert(form.end(), bytes.begin(), bytes.end());
    form.insert(form.end(), {0, 0xEE, 0xEE});
    const std::string expected =
        "true " + harness::elements(form.data(), size + 2) + " " + std::to_string(size);
    EXPECT_EQ(written(wide, size, false), expected);
    EXPECT_EQ(written(narrow, size, false), expected);
    EXPECT_EQ(written(wide, size - 1, false).substr(0, 6), "false ");
    Wide back;
    uint32_t consumed = 0;
    EXPECT_TRUE(back.deserialize(form.data(), size + 2, consumed));
    EXPECT_EQ(elements(back).substr(0, units.size()) + " " + std::to_string(consumed),
              units + " " + std::to_string(size));
}

}  // namespace
