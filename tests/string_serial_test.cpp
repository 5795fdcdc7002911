// The serialised form of both string classes: the bytes written, records read back one after
// another from the front of a byte buffer, forms that are refused, and hostile bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "buffer_values.h"
#include "param_name.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"
#include "record_lines.h"
#include "string_values.h"

namespace {

using bufvals::Values;
using strvals::show;
using strvals::text;

template <class S>
class StringFormTest : public testing::Test {};
using StringClasses = testing::Types<CQIRStringMultiByte, CQIRStringWChar>;
TYPED_TEST_SUITE(StringFormTest, StringClasses);

CQIRBuffer<unsigned char> bytesOf(const Values& values) {
    return bufvals::make<unsigned char>(values);
}

TYPED_TEST(StringFormTest, FormatOneTheCountAndTheText) {
    std::vector<std::string> lines = records::linesWhile([] {
        const TypeParam abc = strvals::make<TypeParam>("abc");
        EXPECT_EQ(show(abc.serialize()), "[1 4 0 0 0 97 98 99 0]");
        EXPECT_EQ(show(static_cast<CQIRBuffer<unsigned char>>(abc)), "[1 4 0 0 0 97 98 99 0]");
        EXPECT_EQ(abc.serializedSize(), 9u);

        const TypeParam empty;
        EXPECT_EQ(show(empty.serialize()), "[1 0 0 0 0]");
        EXPECT_EQ(show(static_cast<CQIRBuffer<unsigned char>>(empty)), "[1 0 0 0 0]");
        EXPECT_EQ(empty.serializedSize(), 5u);
    });
    EXPECT_EQ(lines, std::vector<std::string>{});
}

TEST(StringFormTest, LengthIsLittleEndian) {
    const std::string text300(300, 'x');
    const CQIRBuffer<unsigned char> form = CQIRStringWChar(text300.c_str()).serialize();
    ASSERT_EQ(form.getSize(), 306u);
    EXPECT_EQ(show(CQIRBuffer<unsigned char>(form.getBuffer(), 6)), "[1 45 1 0 0 120]");
    EXPECT_EQ(form.getBuffer()[305], 0);
}

TEST(StringFormTest, WideTextWithoutAnEightBitFormIsCutInThePayload) {
    const auto wide = strvals::withElements<CQIRStringWChar, qir_wchar_t>({'a', 0x100, 'b', 0});
    EXPECT_EQ(show(wide.serialize()), "[1 4 0 0 0 97 0 0 0]");
    EXPECT_EQ(wide.serializedSize(), 9u);
}

// --- reading back ---

struct ReadCase {
    const char* name;
    Values in;
    bool ok;
    std::string string;  // the string afterwards, as strvals::text shows it
    Values rest;         // `in` afterwards
    int record;          // 0: none; else the line of the one record
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class StringDeserializeTest : public testing::TestWithParam<ReadCase> {};

template <class S>
void expectRead(const ReadCase& c) {
    SCOPED_TRACE(strvals::className<S>());
    S s = strvals::make<S>("old");
    CQIRBuffer<unsigned char> in = bytesOf(c.in);
    bool ok = !c.ok;
    std::vector<std::string> lines = records::linesWhile([&] { ok = s.deserialize(in); });
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(text(s), c.string);
    EXPECT_EQ(bufvals::of(in), c.rest);
    std::vector<records::Record> expected;
    const std::string base = "CQIRStringBase<class " + strvals::className<S>() +
                             (sizeof(*s.getBuffer()) == 1 ? ",char>" : ",wchar_t>");
    if (c.record == 321) {
        expected.push_back(records::stringRecord(base + "::deserialize",
                                                 "Unsupported serialized string format",
                                                 "Deserialize", "qir_string_base", 321));
    } else if (c.record == 1316) {
        expected.push_back(records::readValueOutside());
    }
    EXPECT_EQ(lines, records::linesOf(expected));
}

TEST_P(StringDeserializeTest, ConsumesOneFormFromTheFront) {
    expectRead<CQIRStringMultiByte>(GetParam());
    expectRead<CQIRStringWChar>(GetParam());
}

const Values kAbc = {1, 4, 0, 0, 0, 'a', 'b', 'c', 0};

INSTANTIATE_TEST_SUITE_P(
    Forms, StringDeserializeTest,
    testing::Values(ReadCase{"Whole", kAbc, true, "abc/4", {}, 0},
                    ReadCase{"TwoForms",
                             {1, 3, 0, 0, 0, 'a', 'b', 0, 1, 3, 0, 0, 0, 'c', 'd', 0},
                             true,
                             "ab/3",
                             {1, 3, 0, 0, 0, 'c', 'd', 0},
                             0},
                    ReadCase{"FormAndStrayBytes", {1, 2, 0, 0, 0, 'z', 0, 9}, true, "z/2", {9}, 0},
                    ReadCase{"EmptyForm", {1, 0, 0, 0, 0}, true, "/0", {}, 0},
                    ReadCase{"OnlyAZero", {1, 1, 0, 0, 0, 0}, true, "/0", {}, 0},
                    ReadCase{"ZeroInside", {1, 4, 0, 0, 0, 'a', 0, 'b', 0}, true, "a/2", {}, 0},
                    ReadCase{"NoTerminator", {1, 2, 0, 0, 0, 'a', 'b'}, true, "ab/3", {}, 0},
                    ReadCase{"NothingToRead", {}, true, "/0", {}, 0},
                    ReadCase{"UnsupportedFormat",
                             {2, 4, 0, 0, 0, 'a', 'b', 'c', 0},
                             false,
                             "old/4",
                             {2, 4, 0, 0, 0, 'a', 'b', 'c', 0},
                             321},
                    ReadCase{"FormatZero", {0, 0, 0, 0, 0}, false, "old/4", {0, 0, 0, 0, 0}, 321},
                    ReadCase{"LengthBeyondTheBuffer",
                             {1, 5, 0, 0, 0, 'a', 'b', 'c', 0},
                             false,
                             "old/4",
                             {1, 5, 0, 0, 0, 'a', 'b', 'c', 0},
                             0},
                    ReadCase{"LengthWrappingPastTwoToThe32",
                             {1, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c', 0},
                             false,
                             "old/4",
                             {1, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c', 0},
                             0},
                    ReadCase{"HeaderCut", {1, 4, 0}, false, "old/4", {1, 4, 0}, 1316},
                    ReadCase{"OnlyTheFormat", {1}, false, "old/4", {1}, 1316}),
    caseName<ReadCase>);

TYPED_TEST(StringFormTest, SeveralFormsComeBackInOrder) {
    CQIRBuffer<unsigned char> in;
    for (const char* t : {"first", "", "third one"}) {
        in += strvals::make<TypeParam>(t).serialize();
    }
    in += CQIRStringMultiByte().serialize();
    TypeParam s;
    std::vector<std::string> got;
    while (in.getSize() != 0) {
        ASSERT_TRUE(s.deserialize(in));
        got.push_back(text(s));
    }
    EXPECT_EQ(got, (std::vector<std::string>{"first/6", "/0", "third one/10", "/0"}));
    EXPECT_EQ(in.getBuffer(), nullptr);
}

TYPED_TEST(StringFormTest, AFormReadBackIsTheSameString) {
    for (const char* t : {"", "a", "Hello, world!"}) {
        const TypeParam original = strvals::make<TypeParam>(t);
        CQIRBuffer<unsigned char> in = original.serialize();
        TypeParam copy = strvals::make<TypeParam>("something else");
        ASSERT_TRUE(copy.deserialize(in));
        EXPECT_EQ(show(copy), show(original));
    }
}

TEST(StringFormTest, EachClassReadsTheOthersForm) {
    CQIRBuffer<unsigned char> in = CQIRStringWChar("wide").serialize();
    in += strvals::make<CQIRStringMultiByte>("narrow").serialize();
    CQIRStringMultiByte narrow;
    ASSERT_TRUE(narrow.deserialize(in));
    EXPECT_EQ(text(narrow), "wide/5");
    CQIRStringWChar wide;
    ASSERT_TRUE(wide.deserialize(in));
    EXPECT_EQ(text(wide), "narrow/7");
}

// Forms whose declared length is refused are refused before anything is allocated.
TYPED_TEST(StringFormTest, ARefusedLengthAllocatesNothing) {
    for (uint32_t declared : {5u, 6u, 0x7FFFFFFFu, 0xFFFFFFFBu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(declared);
        CQIRBuffer<unsigned char> in =
            bytesOf({1, declared & 0xFF, (declared >> 8) & 0xFF, (declared >> 16) & 0xFF,
                     declared >> 24, 'a', 'b', 'c', 0});
        TypeParam s;
        bool ok = true;
        uint64_t allocations = 0;
        {
            allocseam::Counting counting;
            ok = s.deserialize(in);
            allocations = counting.requests();
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(allocations, 0u);
        EXPECT_EQ(in.getSize(), 9u);
    }
}

// Bytes from a generator, most of them forms with a plausible header and any length: a read
// either takes exactly one form from the front or changes nothing, and never reads or writes
// outside the buffers (the sanitizer tree checks that).
TYPED_TEST(StringFormTest, HostileBytesNeverReachOutside) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 2000; ++round) {
        const uint32_t size = random() % 24;
        Values bytes;
        for (uint32_t i = 0; i < size; ++i) {
            bytes.push_back(random() % 256);
        }
        if (size >= 5 && round % 4 != 0) {
            bytes[0] = 1;
            const uint32_t declared = random() % (size + 4);
            for (int i = 0; i < 4; ++i) {
                bytes[1 + i] = (declared >> (8 * i)) & 0xFF;
            }
        }
        CQIRBuffer<unsigned char> in = bytesOf(bytes);
        TypeParam s = strvals::make<TypeParam>("kept");
        if (s.deserialize(in)) {
            if (size == 0) {
                continue;
            }
            const uint32_t declared = bytes[1] | bytes[2] << 8 | bytes[3] << 16 | bytes[4] << 24;
            ASSERT_LE(declared + 5, size);
            EXPECT_EQ(bufvals::of(in), Values(bytes.begin() + 5 + declared, bytes.end()));
            EXPECT_LE(s.getSize(), declared + 1);
        } else {
            EXPECT_EQ(text(s), "kept/5");
            EXPECT_EQ(bufvals::of(in), bytes);
        }
    }
}

}  // namespace
