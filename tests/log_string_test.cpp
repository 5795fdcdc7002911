// Log strings of both widths: storage, joining, trimming, comparison, containment, numbers,
// the raw serialised form (hostile headers included), locale conversions and what each
// operation leaves when the heap refuses.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "log_text.h"
#include "qir_log_string.h"
#include "scoped_locale.h"

namespace {

using logtext::ascii;
using logtext::make;
using Bytes = std::vector<unsigned char>;

template <class S>
class LogStringTest : public testing::Test {};

using Widths = testing::Types<CQIRLogStringMultiByte, CQIRLogStringWChar>;
TYPED_TEST_SUITE(LogStringTest, Widths);

TYPED_TEST(LogStringTest, EmptyTextsHaveNoStorage) {
    for (const TypeParam& s : {TypeParam(), make<TypeParam>("")}) {
        EXPECT_EQ(s.getBuffer(), nullptr);
        EXPECT_EQ(s.getSize(), 0u);
        EXPECT_EQ(s.length(), 0u);
    }
    const TypeParam abc = make<TypeParam>("abc");
    EXPECT_EQ(abc.getSize(), 4u);
    EXPECT_EQ(abc.length(), 3u);
}

TYPED_TEST(LogStringTest, Appends) {
    struct Case {
        const char* left;
        const char* right;
        const char* joined;
        uint32_t count;
    };
    for (const Case& c : {Case{"abc", "de", "abcde", 6}, Case{"abc", "", "abc", 4},
                          Case{"", "de", "de", 3}, Case{"", "", "<empty>", 0}}) {
        TypeParam s = make<TypeParam>(c.left);
        s += make<TypeParam>(c.right);
        EXPECT_EQ(ascii(s), c.joined) << c.left << " + " << c.right;
        EXPECT_EQ(s.getSize(), c.count) << c.left << " + " << c.right;
    }
    TypeParam self = make<TypeParam>("ab");
    self += self;
    EXPECT_EQ(ascii(self), "abab");
    const TypeParam left = make<TypeParam>("ab");
    EXPECT_EQ(ascii(left + make<TypeParam>("c")), "abc");
    EXPECT_EQ(ascii(left), "ab");
}

TYPED_TEST(LogStringTest, DropsFromTheFrontAndTheBack) {
    struct Case {
        const char* text;
        uint32_t n;
        const char* front;
        const char* back;
    };
    for (const Case& c : {Case{"abc", 0, "abc", "abc"}, Case{"abc", 1, "bc", "ab"},
                          Case{"abc", 2, "c", "a"}, Case{"abc", 3, "<empty>", "<empty>"},
                          Case{"abc", 9, "<empty>", "<empty>"}, Case{"", 1, "<empty>", "<empty>"},
                          Case{"Fri Dec 04 09:41:24 2026\n", 1, "ri Dec 04 09:41:24 2026\n",
                               "Fri Dec 04 09:41:24 2026"}}) {
        TypeParam front = make<TypeParam>(c.text);
        front <<= c.n;
        EXPECT_EQ(ascii(front), c.front) << c.text << " << " << c.n;
        TypeParam back = make<TypeParam>(c.text);
        back >>= c.n;
        EXPECT_EQ(ascii(back), c.back) << c.text << " >> " << c.n;
        if (back.getBuffer() != nullptr) {
            EXPECT_EQ(back.getSize(), back.length() + 1);
        }
    }
    const TypeParam abc = make<TypeParam>("abc");
    EXPECT_EQ(ascii(abc >> 1), "ab");
    EXPECT_EQ(ascii(abc << 1), "bc");
    EXPECT_EQ(ascii(abc), "abc");
}

TYPED_TEST(LogStringTest, ComparesCountsThenTexts) {
    struct Case {
        const char* left;
        const char* right;
        bool equal;
    };
    for (const Case& c : {Case{"abc", "abc", true}, Case{"abc", "abd", false},
                          Case{"abc", "ab", false}, Case{"", "", true}, Case{"", "a", false}}) {
        const TypeParam left = make<TypeParam>(c.left);
        const TypeParam right = make<TypeParam>(c.right);
        EXPECT_EQ(left == right, c.equal) << c.left << " == " << c.right;
        EXPECT_EQ(left != right, !c.equal) << c.left << " != " << c.right;
    }
}

TYPED_TEST(LogStringTest, Contains) {
    struct Case {
        const char* haystack;
        const char* needle;
        bool found;
    };
    for (const Case& c : {Case{"abc", "b", true}, Case{"abc", "abc", true}, Case{"abc", "bc", true},
                          Case{"abc", "abcd", false}, Case{"abc", "ac", false},
                          Case{"abc", "", false}, Case{"", "a", false}, Case{"", "", false}}) {
        EXPECT_EQ(make<TypeParam>(c.haystack).contains(make<TypeParam>(c.needle)), c.found)
            << c.haystack << " contains " << c.needle;
    }
}

TYPED_TEST(LogStringTest, ReadsDecimalNumbers) {
    struct Case {
        const char* text;
        int32_t value;
    };
    for (const Case& c : {Case{"42", 42}, Case{"x", 0}, Case{"", 0}, Case{" -17z", -17},
                          Case{"+8", 8}, Case{"2147483647", INT32_MAX},
                          Case{"99999999999", INT32_MAX}, Case{"-99999999999", INT32_MIN}}) {
        EXPECT_EQ(make<TypeParam>(c.text).toLong(), c.value) << c.text;
    }
}

TYPED_TEST(LogStringTest, SerializesTheRawForm) {
    Bytes out(8, 0xEE);
    EXPECT_TRUE(make<TypeParam>("ab").serialize(out.data(), 8));
    EXPECT_EQ(out, (Bytes{1, 3, 0, 0, 0, 'a', 'b', 0}));

    Bytes small(7, 0xEE);
    EXPECT_FALSE(make<TypeParam>("ab").serialize(small.data(), 7));
    EXPECT_EQ(small, Bytes(7, 0xEE));

    Bytes empty(6, 0xEE);
    EXPECT_TRUE(TypeParam().serialize(empty.data(), 6));
    EXPECT_EQ(empty, (Bytes{1, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(TypeParam().serialize(nullptr, 100));
}

TYPED_TEST(LogStringTest, StorageFailuresLeaveTheStringEmpty) {
    TypeParam abc = make<TypeParam>("abc");
    {
        allocseam::Failing failing(1);
        EXPECT_FALSE(abc.resize(9));
        EXPECT_TRUE(failing.fired());
    }
    EXPECT_EQ(abc.getBuffer(), nullptr);
    EXPECT_EQ(abc.getSize(), 0u);

    TypeParam same = make<TypeParam>("abc");
    {
        allocseam::Failing failing(0);
        EXPECT_TRUE(same.resize(4));  // the same size keeps what it has
    }
    EXPECT_EQ(ascii(same), "abc");

    using Operation = void (*)(TypeParam&, const TypeParam&);
    for (Operation operation : {
             +[](TypeParam&s, const TypeParam&other) { s = other; },
             +[](TypeParam&s, const TypeParam&other) { s += other; },
             +[](TypeParam&s, const TypeParam&) { s <<= 1; },
             +[](TypeParam&s, const TypeParam&) { s >>= 1; },
         }) {
        TypeParam s = make<TypeParam>("abc");
        const TypeParam other = make<TypeParam>("xyz1");
        allocseam::Failing failing(1);
        operation(s, other);
        EXPECT_TRUE(failing.fired());
        EXPECT_EQ(s.getBuffer(), nullptr);
        EXPECT_EQ(s.getSize(), 0u);
    }
}

TYPED_TEST(LogStringTest, MovesHandTheStorageOver) {
    TypeParam source = make<TypeParam>("abc");
    const auto* storage = source.getBuffer();
    TypeParam moved(std::move(source));
    EXPECT_EQ(moved.getBuffer(), storage);
    EXPECT_EQ(source.getBuffer(), nullptr);
    EXPECT_EQ(source.getSize(), 0u);
    TypeParam target = make<TypeParam>("xyz");
    target = std::move(moved);
    EXPECT_EQ(ascii(target), "abc");
    EXPECT_EQ(moved.getBuffer(), nullptr);
}

TYPED_TEST(LogStringTest, CopiesAreDeep) {
    TypeParam original = make<TypeParam>("abc");
    TypeParam copy(original);
    EXPECT_NE(copy.getBuffer(), original.getBuffer());
    original <<= 1;
    EXPECT_EQ(ascii(copy), "abc");
    copy = copy;
    EXPECT_EQ(ascii(copy), "abc");
}

// --- the raw form read back ---

struct ReadCase {
    const char* name;
    Bytes bytes;
    uint32_t size;  // the size given to deserialize; 0: the byte count
    bool ok;
    const char* text;   // on success
    uint32_t consumed;  // on success
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class RawFormReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(RawFormReadTest, ReadsOrRefusesLeavingTheStringAlone) {
    const ReadCase& c = GetParam();
    const uint32_t size = c.size != 0 ? c.size : static_cast<uint32_t>(c.bytes.size());
    CQIRLogStringMultiByte narrow("keep");
    CQIRLogStringWChar wide(logtext::units("keep").data());
    uint32_t consumed = 12345;
    uint32_t wideConsumed = 12345;
    EXPECT_EQ(narrow.deserialize(c.bytes.data(), size, consumed), c.ok);
    EXPECT_EQ(wide.deserialize(c.bytes.data(), size, wideConsumed), c.ok);
    if (c.ok) {
        EXPECT_EQ(ascii(narrow), c.text);
        EXPECT_EQ(ascii(wide), c.text);
        EXPECT_EQ(consumed, c.consumed);
        EXPECT_EQ(wideConsumed, c.consumed);
    } else {
        EXPECT_EQ(ascii(narrow), "keep");
        EXPECT_EQ(ascii(wide), "keep");
        EXPECT_EQ(consumed, 12345u);
        EXPECT_EQ(wideConsumed, 12345u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, RawFormReadTest,
    testing::Values(
        ReadCase{"Narrow", {1, 3, 0, 0, 0, 'a', 'b', 0}, 0, true, "ab", 8},
        ReadCase{"FollowedByMore", {1, 3, 0, 0, 0, 'a', 'b', 0, 1, 1}, 0, true, "ab", 8},
        ReadCase{"SizeCutsTheText", {1, 3, 0, 0, 0, 'a', 'b', 0}, 7, false, "", 0},
        ReadCase{"Empty", {1, 1, 0, 0, 0, 0}, 0, true, "<empty>", 6},
        ReadCase{"LengthZero", {1, 0, 0, 0, 0, 0}, 0, true, "<empty>", 6},
        ReadCase{"BelowSixBytes", {1, 0, 0, 0, 0}, 0, false, "", 0},
        ReadCase{"FormatZeroEmptyNeedsSixBytes", {0, 0, 0, 0, 0}, 0, false, "", 0},
        ReadCase{"FormatZeroWithText", {0, 3, 0, 0, 0, 'a', 'b', 0}, 0, false, "", 0},
        ReadCase{"FormatThree", {3, 3, 0, 0, 0, 'a', 'b', 0}, 0, false, "", 0},
        ReadCase{"HeaderOnly", {1, 3, 0}, 0, false, "", 0},
        ReadCase{"LengthBeyondTheInput", {1, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 0}, 0, false, "", 0},
        ReadCase{"LengthWrapsWithTheHeader", {1, 0xFC, 0xFF, 0xFF, 0xFF, 'a', 0}, 0, false, "", 0},
        ReadCase{"NoTerminator", {1, 2, 0, 0, 0, 'a', 'b'}, 0, false, "", 0},
        ReadCase{"EmbeddedZero", {1, 4, 0, 0, 0, 'a', 0, 'b', 0}, 0, true, "a", 9},
        ReadCase{"Wide", {2, 6, 0, 0, 0, 'a', 0, 'b', 0, 0, 0}, 0, true, "ab", 11},
        ReadCase{"WideOddLength", {2, 5, 0, 0, 0, 'a', 0, 'b', 0, 0}, 0, false, "", 0},
        ReadCase{"WideNoTerminator", {2, 4, 0, 0, 0, 'a', 0, 'b', 0}, 0, false, "", 0},
        ReadCase{"WideHeaderNeedsSevenBytes", {2, 1, 0, 0, 0, 0}, 0, false, "", 0}),
    [](const testing::TestParamInfo<ReadCase>& param) { return std::string(param.param.name); });

TEST(RawFormTest, NullInputIsRefused) {
    CQIRLogStringMultiByte s("keep");
    uint32_t consumed = 7;
    EXPECT_FALSE(s.deserialize(nullptr, 100, consumed));
    EXPECT_EQ(consumed, 7u);
}

TEST(RawFormTest, HostileLengthAllocatesNothingBeyondTheInput) {
    const Bytes bytes{1, 0xF0, 0xFF, 0xFF, 0x7F, 'a', 0};
    CQIRLogStringMultiByte s;
    uint32_t consumed = 0;
    allocseam::Counting counting;
    EXPECT_FALSE(s.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size()), consumed));
    EXPECT_EQ(counting.requests(), 0u);
}

TEST(RawFormTest, ReadingFailsCleanlyWithoutMemory) {
    const Bytes narrow{1, 3, 0, 0, 0, 'a', 'b', 0};
    const Bytes wide{2, 6, 0, 0, 0, 'a', 0, 'b', 0, 0, 0};
    for (const Bytes& bytes : {narrow, wide}) {
        // Each allocation of the read refused in turn, until one read needs no refusal.
        for (uint64_t n = 1;; ++n) {
            SCOPED_TRACE("format " + std::to_string(bytes[0]) + ", allocation " +
                         std::to_string(n));
            CQIRLogStringMultiByte s("keep");
            uint32_t consumed = 0;
            bool ok = false;
            bool fired = false;
            {
                allocseam::Failing failing(n);
                ok = s.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size()), consumed);
                fired = failing.fired();
            }
            if (!fired) {
                EXPECT_TRUE(ok);
                EXPECT_EQ(ascii(s), "ab");
                EXPECT_EQ(consumed, bytes.size());
                break;
            }
            EXPECT_FALSE(ok);
            EXPECT_EQ(ascii(s), "keep");
            EXPECT_EQ(consumed, 0u);
        }
    }
}

TEST(RawFormTest, WideTextWithoutAnEightBitFormIsRefused) {
    // "a" and a lone high surrogate: UTF-16 units, but no character of any 8-bit locale. Both
    // widths read the form through its 8-bit text, so both refuse it and keep what they had.
    const Bytes bytes{2, 6, 0, 0, 0, 'a', 0, 0x3D, 0xD8, 0, 0};
    CQIRLogStringMultiByte narrow("keep");
    CQIRLogStringWChar wide(logtext::units("keep").data());
    uint32_t consumed = 0;
    EXPECT_FALSE(narrow.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size()), consumed));
    EXPECT_FALSE(wide.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size()), consumed));
    EXPECT_EQ(ascii(narrow), "keep");
    EXPECT_EQ(ascii(wide), "keep");
    EXPECT_EQ(consumed, 0u);
}

// --- numbers ---

TEST(LogStringNumberTest, WritesSignedDecimal) {
    struct Case {
        uint32_t value;
        const char* text;
    };
    for (const Case& c : {Case{0, "0"}, Case{1234, "1234"}, Case{4294967295u, "-1"},
                          Case{2147483647u, "2147483647"}, Case{2147483648u, "-2147483648"}}) {
        const CQIRLogStringWChar s(c.value, 10);
        EXPECT_EQ(ascii(s), c.text);
        EXPECT_EQ(s.getSize(), std::strlen(c.text) + 1);
    }
}

TEST(LogStringNumberTest, NoMemoryGivesTheEmptyString) {
    for (uint64_t n : {1, 2}) {
        allocseam::Failing failing(n);
        const CQIRLogStringWChar s(1234, 10);
        EXPECT_TRUE(failing.fired());
        EXPECT_EQ(s.getBuffer(), nullptr) << "allocation " << n;
    }
}

// --- conversions between the widths ---

TEST(LogStringConversionTest, ClassicLocaleIsOneElementPerCharacter) {
    const CQIRLogStringWChar wide("abc");
    EXPECT_EQ(ascii(wide), "abc");
    EXPECT_EQ(wide.getSize(), 4u);
    const CQIRLogStringMultiByte narrow(logtext::units("abc").data());
    EXPECT_EQ(ascii(narrow), "abc");
    EXPECT_EQ(narrow.getSize(), 4u * MB_CUR_MAX);
    EXPECT_EQ(CQIRLogStringWChar(static_cast<const char*>(nullptr)).getBuffer(), nullptr);
    EXPECT_EQ(CQIRLogStringMultiByte(static_cast<const qir_wchar_t*>(nullptr)).getBuffer(),
              nullptr);
}

TEST(LogStringConversionTest, NoMemoryGivesTheEmptyString) {
    const std::vector<qir_wchar_t> units = logtext::units("abc");
    allocseam::Failing failing(0);
    EXPECT_EQ(CQIRLogStringWChar("abc").getBuffer(), nullptr);
    EXPECT_EQ(CQIRLogStringWChar(units.data()).getBuffer(), nullptr);
    EXPECT_EQ(CQIRLogStringMultiByte("abc").getBuffer(), nullptr);
    EXPECT_EQ(CQIRLogStringMultiByte(units.data()).getBuffer(), nullptr);
    EXPECT_TRUE(failing.fired());
}

// A multibyte locale and a text in it: its bytes, its UTF-16 units, and invalid input.
struct LocaleSample {
    std::string bytes;
    std::vector<qir_wchar_t> units;  // without terminator
    std::string invalidBytes;
    std::vector<qir_wchar_t> unconvertible;
};

LocaleSample sampleFor(const std::string& locale) {
    if (locale.find("UTF-8") != std::string::npos) {
        return {"a\xc3\xa9\xf0\x9f\x98\x80", {'a', 0x00E9, 0xD83D, 0xDE00}, "a\xff", {'a', 0xD800}};
    }
    return {"a\x82\xa0", {'a', 0x3042}, "a\x82", {'a', 0x0E01}};  // Shift-JIS; no Thai
}

class MultiByteLocaleTest : public testing::Test {
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

TEST_F(MultiByteLocaleTest, WideningKeepsOneUnitPerByteOfStorage) {
    const CQIRLogStringWChar wide(sample.bytes.c_str());
    ASSERT_NE(wide.getBuffer(), nullptr);
    EXPECT_EQ(wide.getSize(), sample.bytes.size() + 1);
    ASSERT_EQ(wide.length(), sample.units.size());
    for (size_t i = 0; i < sample.units.size(); ++i) {
        EXPECT_EQ(wide.getBuffer()[i], sample.units[i]) << i;
    }
    EXPECT_EQ(CQIRLogStringWChar(sample.invalidBytes.c_str()).getBuffer(), nullptr);
}

TEST_F(MultiByteLocaleTest, NarrowingGivesTheLocaleBytes) {
    std::vector<qir_wchar_t> units = sample.units;
    units.push_back(0);
    const CQIRLogStringMultiByte narrow(units.data());
    ASSERT_NE(narrow.getBuffer(), nullptr);
    EXPECT_EQ(std::string(narrow.getBuffer()), sample.bytes);
    EXPECT_EQ(narrow.getSize(), units.size() * MB_CUR_MAX);
    std::vector<qir_wchar_t> bad = sample.unconvertible;
    bad.push_back(0);
    EXPECT_EQ(CQIRLogStringMultiByte(bad.data()).getBuffer(), nullptr);
}

// In a multibyte locale the raw form still says exactly how many bytes follow its header,
// whichever width or storage size the text came from.
TEST_F(MultiByteLocaleTest, RawFormLengthMatchesTheBytesWritten) {
    std::vector<qir_wchar_t> units = sample.units;
    units.push_back(0);
    const CQIRLogStringWChar wide(units.data());
    const CQIRLogStringMultiByte narrow(units.data());
    const uint32_t expected = static_cast<uint32_t>(sample.bytes.size()) + 6;
    EXPECT_EQ(wide.serializedSize(), expected);
    EXPECT_EQ(narrow.serializedSize(), expected);
    Bytes fromWide(expected + 4, 0xEE);
    Bytes fromNarrow(expected + 4, 0xEE);
    ASSERT_TRUE(wide.serialize(fromWide.data(), expected));
    ASSERT_TRUE(narrow.serialize(fromNarrow.data(), expected));
    EXPECT_EQ(fromWide, fromNarrow);
    EXPECT_EQ(fromWide[1], sample.bytes.size() + 1);
    EXPECT_EQ(fromWide[expected], 0xEE);  // nothing past the form
    EXPECT_FALSE(wide.serialize(fromWide.data(), expected - 1));

    CQIRLogStringWChar back;
    uint32_t consumed = 0;
    ASSERT_TRUE(back.deserialize(fromWide.data(), expected + 4, consumed));
    EXPECT_EQ(consumed, expected);
    EXPECT_EQ(back.length(), sample.units.size());
    EXPECT_EQ(back.getBuffer()[back.length() - 1], sample.units.back());
}

}  // namespace
