// CQIRBuffer<T>: storage, lifetime, writing, reading and the conversions, for every element
// type, with the records that refused operations write to the log file.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "buffer_values.h"
#include "param_name.h"
#include "qir_buffer.h"
#include "record_lines.h"

namespace {

// Every report of this program is written to a log file of its own (one registration for the
// whole program).
const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

using bufvals::ClaimedCount;
using bufvals::elementName;
using bufvals::make;
using bufvals::of;
using bufvals::Values;
using records::Record;

// Runs f with a value of each element type.
template <class F>
void forEachElementType(F f) {
    f(char{});
    f(qir_wchar_t{});
    f(static_cast<unsigned char>(0));
}

template <class T>
class BufferLifetimeTest : public testing::Test {};
using ElementTypes = testing::Types<char, qir_wchar_t, unsigned char>;
TYPED_TEST_SUITE(BufferLifetimeTest, ElementTypes);

TYPED_TEST(BufferLifetimeTest, CountConstructorGivesZeroElementsOrNoStorage) {
    std::vector<std::string> lines = records::linesWhile([] {
        const CQIRBuffer<TypeParam> none(0);
        EXPECT_EQ(none.getBuffer(), nullptr);
        EXPECT_EQ(of(none), Values{});
        const CQIRBuffer<TypeParam> four(4);
        EXPECT_EQ(of(four), (Values{0, 0, 0, 0}));
        EXPECT_EQ(four.getSizeInBytes(), 4 * sizeof(TypeParam));
    });
    EXPECT_EQ(lines, std::vector<std::string>{});
}

TYPED_TEST(BufferLifetimeTest, RawConstructorCopiesIntoItsOwnStorage) {
    const TypeParam source[] = {1, 2, 3};
    std::vector<std::string> lines = records::linesWhile([&] {
        EXPECT_EQ(of(CQIRBuffer<TypeParam>(nullptr, 5)), Values{});
        EXPECT_EQ(of(CQIRBuffer<TypeParam>(source, 0)), Values{});
        const CQIRBuffer<TypeParam> copy(source, 3);
        EXPECT_EQ(of(copy), (Values{1, 2, 3}));
        EXPECT_NE(copy.getBuffer(), source);
    });
    EXPECT_EQ(lines, std::vector<std::string>{});
}

TYPED_TEST(BufferLifetimeTest, CopiesAreDeepAndAssignmentReplaces) {
    CQIRBuffer<TypeParam> original = make<TypeParam>({1, 2, 3});
    CQIRBuffer<TypeParam> copy(original);
    ASSERT_EQ(of(copy), (Values{1, 2, 3}));
    EXPECT_NE(copy.getBuffer(), original.getBuffer());
    copy.getBuffer()[0] = 9;
    EXPECT_EQ(of(original), (Values{1, 2, 3}));

    CQIRBuffer<TypeParam> target = make<TypeParam>({7, 7});
    target = original;
    EXPECT_EQ(of(target), (Values{1, 2, 3}));
    EXPECT_NE(target.getBuffer(), original.getBuffer());

    const CQIRBuffer<TypeParam> empty;
    target = empty;
    EXPECT_EQ(of(target), Values{});
    EXPECT_EQ(of(CQIRBuffer<TypeParam>(empty)), Values{});
}

TYPED_TEST(BufferLifetimeTest, SelfAssignmentKeepsTheElements) {
    CQIRBuffer<TypeParam> buffer = make<TypeParam>({4, 5, 6});
    CQIRBuffer<TypeParam>& alias = buffer;
    buffer = alias;
    EXPECT_EQ(of(buffer), (Values{4, 5, 6}));
}

TYPED_TEST(BufferLifetimeTest, AllocReplacesTheContentsByZeros) {
    CQIRBuffer<TypeParam> buffer = make<TypeParam>({1, 2, 3});
    EXPECT_TRUE(buffer.alloc(2));
    EXPECT_EQ(of(buffer), (Values{0, 0}));
    EXPECT_TRUE(buffer.alloc(0));
    EXPECT_EQ(of(buffer), Values{});
}

TYPED_TEST(BufferLifetimeTest, EmptyBufferReleasesAndWipesNothing) {
    std::vector<std::string> lines = records::linesWhile([] {
        CQIRBuffer<TypeParam> buffer;
        EXPECT_FALSE(buffer.zeroFill());
        EXPECT_TRUE(buffer.destroy());
        EXPECT_TRUE(buffer.flush());
        EXPECT_EQ(of(buffer), Values{});
    });
    EXPECT_EQ(lines, std::vector<std::string>{});
}

TYPED_TEST(BufferLifetimeTest, FlushAndDestroyEmptyTheBuffer) {
    CQIRBuffer<TypeParam> buffer = make<TypeParam>({1, 2});
    EXPECT_TRUE(buffer.zeroFill());
    EXPECT_EQ(of(buffer), (Values{0, 0}));
    EXPECT_TRUE(buffer.flush());
    EXPECT_EQ(of(buffer), Values{});
    buffer = make<TypeParam>({3});
    EXPECT_TRUE(buffer.destroy());
    EXPECT_EQ(of(buffer), Values{});
}

TYPED_TEST(BufferLifetimeTest, SwapExchangesStorage) {
    CQIRBuffer<TypeParam> a = make<TypeParam>({1, 2});
    CQIRBuffer<TypeParam> b = make<TypeParam>({3});
    const TypeParam* storageOfA = a.getBuffer();
    a.swap(b);
    EXPECT_EQ(of(a), Values{3});
    EXPECT_EQ(of(b), (Values{1, 2}));
    EXPECT_EQ(b.getBuffer(), storageOfA);
}

// --- reAlloc ---

struct ReAllocCase {
    const char* name;
    uint32_t count;
    Values expected;
};

void PrintTo(const ReAllocCase& c, std::ostream* os) {
    *os << c.name;
}

class BufferReAllocTest : public testing::TestWithParam<ReAllocCase> {};

TEST_P(BufferReAllocTest, KeepsTheLeadingElementsAndZeroFillsTheRest) {
    const ReAllocCase& c = GetParam();
    forEachElementType([&](auto tag) {
        using T = decltype(tag);
        SCOPED_TRACE(elementName<T>());
        CQIRBuffer<T> buffer = make<T>({1, 2, 3});
        std::vector<std::string> lines =
            records::linesWhile([&] { EXPECT_TRUE(buffer.reAlloc(c.count)); });
        EXPECT_EQ(of(buffer), c.expected);
        EXPECT_EQ(lines, std::vector<std::string>{});
    });
}

INSTANTIATE_TEST_SUITE_P(Counts, BufferReAllocTest,
                         testing::Values(ReAllocCase{"Grow", 5, {1, 2, 3, 0, 0}},
                                         ReAllocCase{"Same", 3, {1, 2, 3}},
                                         ReAllocCase{"Shrink", 2, {1, 2}},
                                         ReAllocCase{"ToZero", 0, {}}),
                         caseName<ReAllocCase>);

// --- write ---

struct WriteCase {
    const char* name;
    uint32_t offset;
    Values source;
    bool ok;
    Values expected;  // of the target [1, 2, 3, 4, 5]
};

void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

class BufferWriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(BufferWriteTest, CopiesAtTheOffsetAndGrowsOnlyAsFarAsNeeded) {
    const WriteCase& c = GetParam();
    forEachElementType([&](auto tag) {
        using T = decltype(tag);
        SCOPED_TRACE(elementName<T>());
        CQIRBuffer<T> target = make<T>({1, 2, 3, 4, 5});
        const CQIRBuffer<T> source = make<T>(c.source);
        bool ok = !c.ok;
        std::vector<std::string> lines =
            records::linesWhile([&] { ok = target.write(source, c.offset); });
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(of(target), c.expected);
        EXPECT_EQ(of(source), c.source);
        const std::vector<Record> expected =
            c.ok ? std::vector<Record>{}
                 : std::vector<Record>{records::writeOutside(elementName<T>())};
        EXPECT_EQ(lines, records::linesOf(expected));
    });
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, BufferWriteTest,
    testing::Values(WriteCase{"AtStart", 0, {10, 11}, true, {10, 11, 3, 4, 5}},
                    WriteCase{"Inside", 3, {10, 11}, true, {1, 2, 3, 10, 11}},
                    WriteCase{"AcrossTheEnd", 4, {10, 11}, true, {1, 2, 3, 4, 10, 11}},
                    WriteCase{"AtTheEnd", 5, {10, 11}, true, {1, 2, 3, 4, 5, 10, 11}},
                    WriteCase{"PastTheEnd", 6, {10, 11}, false, {1, 2, 3, 4, 5}},
                    WriteCase{"EmptyAtTheEnd", 5, {}, true, {1, 2, 3, 4, 5}},
                    WriteCase{"EmptyInside", 1, {}, true, {1, 2, 3, 4, 5}},
                    WriteCase{"EmptyPastTheEnd", 6, {}, false, {1, 2, 3, 4, 5}},
                    WriteCase{"LastOffset", UINT32_MAX, {10}, false, {1, 2, 3, 4, 5}}),
    caseName<WriteCase>);

struct WrapCase {
    const char* name;
    uint32_t offset;
    uint32_t sourceCount;
};

void PrintTo(const WrapCase& c, std::ostream* os) {
    *os << c.name;
}

class BufferWriteWrapTest : public testing::TestWithParam<WrapCase> {};

TEST_P(BufferWriteWrapTest, AnEndBeyondTwoToTheThirtyTwoIsRefused) {
    const WrapCase& c = GetParam();
    CQIRBuffer<unsigned char> target = make<unsigned char>({1, 2, 3, 4, 5});
    const ClaimedCount source(c.sourceCount);
    bool ok = true;
    std::vector<std::string> lines =
        records::linesWhile([&] { ok = target.write(source, c.offset); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(of(target), (Values{1, 2, 3, 4, 5}));
    EXPECT_EQ(lines, records::linesOf({records::writeOutside("unsigned char")}));
}

INSTANTIATE_TEST_SUITE_P(Sums, BufferWriteWrapTest,
                         testing::Values(WrapCase{"EndExactlyTwoToThe32", 5, UINT32_MAX - 4},
                                         WrapCase{"EndWrapsToOne", 2, UINT32_MAX},
                                         WrapCase{"EndWrapsInsideTheBuffer", 5, UINT32_MAX - 1}),
                         caseName<WrapCase>);

TEST(BufferSelfWriteTest, ABufferWrittenIntoItselfCopiesItsOldElements) {
    forEachElementType([&](auto tag) {
        using T = decltype(tag);
        SCOPED_TRACE(elementName<T>());
        CQIRBuffer<T> inside = make<T>({1, 2, 3, 4});
        EXPECT_TRUE(inside.write(inside, 0));
        EXPECT_EQ(of(inside), (Values{1, 2, 3, 4}));

        CQIRBuffer<T> growing = make<T>({1, 2, 3, 4});
        EXPECT_TRUE(growing.write(growing, 2));
        EXPECT_EQ(of(growing), (Values{1, 2, 1, 2, 3, 4}));

        CQIRBuffer<T> doubled = make<T>({5, 6, 7});
        EXPECT_TRUE(doubled.append(doubled));
        EXPECT_EQ(of(doubled), (Values{5, 6, 7, 5, 6, 7}));

        CQIRBuffer<T> sum = make<T>({8, 9});
        sum += sum;
        EXPECT_EQ(of(sum), (Values{8, 9, 8, 9}));
    });
}

TEST(BufferAppendTest, AppendJoinsAndPlusLeavesBothOperands) {
    forEachElementType([&](auto tag) {
        using T = decltype(tag);
        SCOPED_TRACE(elementName<T>());
        CQIRBuffer<T> empty;
        const CQIRBuffer<T> source = make<T>({1, 2});
        EXPECT_TRUE(empty.append(source));
        EXPECT_EQ(of(empty), (Values{1, 2}));
        EXPECT_NE(empty.getBuffer(), source.getBuffer());

        CQIRBuffer<T> target = make<T>({7});
        target += source;
        EXPECT_EQ(of(target), (Values{7, 1, 2}));
        target += CQIRBuffer<T>();
        EXPECT_EQ(of(target), (Values{7, 1, 2}));

        const CQIRBuffer<T> left = make<T>({3});
        const CQIRBuffer<T> joined = left + source;
        EXPECT_EQ(of(joined), (Values{3, 1, 2}));
        EXPECT_EQ(of(left), Values{3});
        EXPECT_EQ(of(source), (Values{1, 2}));
        EXPECT_EQ(of(CQIRBuffer<T>() + source), (Values{1, 2}));
    });
}

// --- reads from byte buffers ---

enum class ReadKind { kByte, kValue, kBlock };

struct ReadCase {
    const char* name;
    ReadKind kind;
    uint32_t offset;
    uint32_t blockSize;
    bool ok;
    Values expected;  // the byte, the value or the block read
    int record;       // 0 none, else the line of the record
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class BufferReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(BufferReadTest, ReadsWithinTheBoundsAndRefusesBeyondThem) {
    const ReadCase& c = GetParam();
    const CQIRBuffer<unsigned char> bytes = make<unsigned char>({0x01, 0x02, 0x03, 0x04, 0x85});
    bool ok = !c.ok;
    Values got;
    std::vector<std::string> lines = records::linesWhile([&] {
        if (c.kind == ReadKind::kByte) {
            unsigned char value = 0xEE;
            ok = bytes.read(value, c.offset);
            got = {value};
        } else if (c.kind == ReadKind::kValue) {
            uint32_t value = 0xEEEEEEEE;
            ok = bytes.read(value, c.offset);
            got = {value};
        } else {
            CQIRBuffer<unsigned char> block(c.blockSize);
            block.zeroFill();
            if (block.getSize() != 0) {
                block.getBuffer()[0] = 0xEE;
            }
            ok = bytes.read(block, c.offset);
            got = of(block);
        }
    });
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(of(bytes), (Values{0x01, 0x02, 0x03, 0x04, 0x85}));
    std::vector<Record> expected;
    if (c.record == 1196) {
        expected.push_back(records::readByteOutside());
    } else if (c.record == 1316) {
        expected.push_back(records::readValueOutside());
    } else if (c.record == 1128) {
        expected.push_back(records::readBlockOutside());
    } else if (c.record == 1133) {
        expected.push_back(records::readNothing());
    }
    EXPECT_EQ(lines, records::linesOf(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, BufferReadTest,
    testing::Values(
        ReadCase{"ByteFirst", ReadKind::kByte, 0, 0, true, {0x01}, 0},
        ReadCase{"ByteLast", ReadKind::kByte, 4, 0, true, {0x85}, 0},
        ReadCase{"BytePastTheEnd", ReadKind::kByte, 5, 0, false, {0xEE}, 1196},
        ReadCase{"ByteAtTwoToThe32MinusOne", ReadKind::kByte, UINT32_MAX, 0, false, {0xEE}, 1196},
        ReadCase{"ValueLittleEndian", ReadKind::kValue, 0, 0, true, {0x04030201}, 0},
        ReadCase{"ValueUnalignedToTheEnd", ReadKind::kValue, 1, 0, true, {0x85040302}, 0},
        ReadCase{"ValueOneBytePastTheEnd", ReadKind::kValue, 2, 0, false, {0xEEEEEEEE}, 1316},
        ReadCase{
            "ValueWrappingTo1", ReadKind::kValue, UINT32_MAX - 2, 0, false, {0xEEEEEEEE}, 1316},
        ReadCase{"BlockToTheEnd", ReadKind::kBlock, 2, 3, true, {0x03, 0x04, 0x85}, 0},
        ReadCase{"BlockWhole", ReadKind::kBlock, 0, 5, true, {1, 2, 3, 4, 0x85}, 0},
        ReadCase{"BlockOnePastTheEnd", ReadKind::kBlock, 3, 3, false, {0xEE, 0, 0}, 1128},
        ReadCase{"BlockOffsetPastTheEnd", ReadKind::kBlock, 6, 1, false, {0xEE}, 1128},
        ReadCase{
            "BlockWrappingTo1", ReadKind::kBlock, UINT32_MAX - 1, 3, false, {0xEE, 0, 0}, 1128},
        ReadCase{"BlockEmpty", ReadKind::kBlock, 0, 0, true, {}, 1133},
        ReadCase{"BlockEmptyFarOut", ReadKind::kBlock, UINT32_MAX, 0, true, {}, 1133}),
    caseName<ReadCase>);

TEST(BufferReadTest, ValuesBuildFromTheirBytesLowestFirst) {
    uint32_t value = 0;
    EXPECT_TRUE(make<unsigned char>({1, 0, 0, 0}).read(value, 0));
    EXPECT_EQ(value, 1u);
    EXPECT_TRUE(make<unsigned char>({0, 1, 0, 0}).read(value, 0));
    EXPECT_EQ(value, 256u);
    EXPECT_TRUE(make<unsigned char>({0xFF, 0xFF, 0xFF, 0xFF}).read(value, 0));
    EXPECT_EQ(value, 0xFFFFFFFFu);
}

// --- conversions between element types ---

TEST(BufferConversionTest, WideElementsGiveTheirBytesLowOrderFirst) {
    const CQIRBuffer<qir_wchar_t> wide = make<qir_wchar_t>({0x0041, 0x0000, 0xABCD});
    const CQIRBuffer<char> narrow = wide;
    EXPECT_EQ(of(narrow), (Values{0x41, 0x00, 0x00, 0x00, 0xCD, 0xAB}));
    EXPECT_EQ(of(static_cast<CQIRBuffer<char>>(CQIRBuffer<qir_wchar_t>())), Values{});
}

struct PairingCase {
    const char* name;
    Values bytes;
    Values units;
};

void PrintTo(const PairingCase& c, std::ostream* os) {
    *os << c.name;
}

class BufferPairingTest : public testing::TestWithParam<PairingCase> {};

TEST_P(BufferPairingTest, BytesPairUpIntoUnitsAsTheyLie) {
    const PairingCase& c = GetParam();
    std::vector<std::string> lines = records::linesWhile([&] {
        const CQIRBuffer<qir_wchar_t> fromChars = make<char>(c.bytes);
        EXPECT_EQ(of(fromChars), c.units);
        const CQIRBuffer<qir_wchar_t> fromBytes = make<unsigned char>(c.bytes);
        EXPECT_EQ(of(fromBytes), c.units);
    });
    EXPECT_EQ(lines, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    ByteCounts, BufferPairingTest,
    testing::Values(PairingCase{"Empty", {}, {}}, PairingCase{"OneByte", {0x7F}, {0x007F}},
                    PairingCase{"TextAndZero", {0x41, 0x42, 0x00}, {0x4241, 0x0000}},
                    PairingCase{"Even", {0x01, 0x02, 0xFE, 0xFF}, {0x0201, 0xFFFE}},
                    PairingCase{"OddHighBytes", {0xFF, 0xFF, 0x80}, {0xFFFF, 0x0080}}),
    caseName<PairingCase>);

TEST(BufferConversionTest, SameWidthConversionsAreCopiesInStorageOfTheirOwn) {
    const CQIRBuffer<qir_wchar_t> wide = make<qir_wchar_t>({0xD83D, 0x0001, 0x0000});
    // Called by name: a conversion to the buffer's own type is not otherwise used.
    const CQIRBuffer<qir_wchar_t> wideCopy = wide.operator CQIRBuffer<qir_wchar_t>();
    EXPECT_EQ(of(wideCopy), (Values{0xD83D, 0x0001, 0x0000}));
    EXPECT_NE(wideCopy.getBuffer(), wide.getBuffer());

    const CQIRBuffer<char> text = make<char>({'a', 0x80, 0});
    const CQIRBuffer<unsigned char> bytes = text;
    EXPECT_EQ(of(bytes), (Values{'a', 0x80, 0}));
    const CQIRBuffer<char> back = bytes;
    EXPECT_EQ(of(back), (Values{'a', 0x80, 0}));
    const CQIRBuffer<char> textCopy = text.operator CQIRBuffer<char>();
    EXPECT_EQ(of(textCopy), (Values{'a', 0x80, 0}));
    EXPECT_NE(textCopy.getBuffer(), text.getBuffer());
    EXPECT_EQ(of(static_cast<CQIRBuffer<unsigned char>>(CQIRBuffer<char>())), Values{});
}

// --- the dispatch rule ---

// Logs every call of a storage operation that reaches it through the virtual table, and can
// make destroy answer false as a heap that refuses a release would.
template <class T>
class SpyBuffer : public CQIRBuffer<T> {
  public:
    using CQIRBuffer<T>::CQIRBuffer;
    bool zeroFill() override {
        calls.push_back("zeroFill");
        return CQIRBuffer<T>::zeroFill();
    }
    bool alloc(uint32_t ulCount) override {
        calls.push_back("alloc " + std::to_string(ulCount));
        return CQIRBuffer<T>::alloc(ulCount);
    }
    bool destroy() override {
        calls.push_back("destroy");
        return refuseDestroy ? false : CQIRBuffer<T>::destroy();
    }
    bool reAlloc(uint32_t ulCount) override {
        calls.push_back("reAlloc " + std::to_string(ulCount));
        return CQIRBuffer<T>::reAlloc(ulCount);
    }

    std::vector<std::string> calls;
    bool refuseDestroy = false;
};

using Calls = std::vector<std::string>;

TEST(BufferDispatchTest, StorageOperationsCallOneAnotherThroughTheTable) {
    forEachElementType([&](auto tag) {
        using T = decltype(tag);
        SCOPED_TRACE(elementName<T>());
        const CQIRBuffer<T> two = make<T>({8, 9});
        SpyBuffer<T> spy(3);
        EXPECT_EQ(spy.calls, Calls{}) << "constructors use the class's own alloc";

        EXPECT_TRUE(spy.write(two, 2));
        EXPECT_EQ(spy.calls, (Calls{"reAlloc 4", "alloc 4", "destroy", "zeroFill", "zeroFill"}));
        EXPECT_EQ(of(spy), (Values{0, 0, 8, 9}));

        spy.calls.clear();
        static_cast<CQIRBuffer<T>&>(spy) = two;
        EXPECT_EQ(spy.calls, (Calls{"alloc 2", "destroy", "zeroFill", "zeroFill"}));

        spy.calls.clear();
        EXPECT_TRUE(spy.flush());
        EXPECT_EQ(spy.calls, (Calls{"destroy", "zeroFill"}));

        spy.calls.clear();
        EXPECT_TRUE(spy.append(CQIRBuffer<T>()));
        EXPECT_EQ(spy.calls, Calls{}) << "nothing to grow";
    });
}

TEST(BufferDispatchTest, AllocWhoseReleaseIsRefusedReportsAndKeepsTheStorage) {
    forEachElementType([&](auto tag) {
        using T = decltype(tag);
        SCOPED_TRACE(elementName<T>());
        SpyBuffer<T> spy(2);
        spy.refuseDestroy = true;
        bool ok = true;
        std::vector<std::string> lines = records::linesWhile([&] { ok = spy.alloc(5); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(spy.getSize(), 2u);
        EXPECT_EQ(lines, records::linesOf({records::allocDestroyFailed(elementName<T>())}));

        const CQIRBuffer<T> source = make<T>({1, 2, 3});
        lines = records::linesWhile([&] { spy += source; });
        EXPECT_EQ(of(spy), (Values{0, 0}));
        EXPECT_EQ(lines, records::linesOf({records::allocDestroyFailed(elementName<T>()),
                                           records::appendFailed(elementName<T>())}));

        lines = records::linesWhile([&] { static_cast<CQIRBuffer<T>&>(spy) = source; });
        EXPECT_EQ(lines, records::linesOf({records::allocDestroyFailed(elementName<T>()),
                                           records::assignmentFailed(elementName<T>())}));
        spy.refuseDestroy = false;
    });
}

}  // namespace
