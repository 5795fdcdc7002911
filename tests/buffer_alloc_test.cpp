// CQIRBuffer<T> when the heap refuses a block: every allocation of every allocating
// operation fails in turn, and each run leaves the described buffer and the described
// records in the log file, in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alloc_sweep.h"
#include "buffer_values.h"
#include "qir_buffer.h"
#include "record_lines.h"

namespace {

using bufvals::elementName;
using bufvals::make;
using records::Record;
using sweep::Row;

template <class T>
std::string show(const CQIRBuffer<T>& buffer) {
    std::string text = "[";
    for (uint32_t v : bufvals::of(buffer)) {
        text += (text.size() > 1 ? " " : "") + std::to_string(v);
    }
    return text + "]";
}

std::string show(bool ok) {
    return ok ? "true " : "false ";
}

template <class T>
class BufferAllocationSweepTest : public testing::Test {
  protected:
    const std::string e = elementName<T>();
    Record allocFailed(uint32_t size) const { return records::allocFailed(e, size); }
    Record assignmentFailed() const { return records::assignmentFailed(e); }
};
using ElementTypes = testing::Types<char, qir_wchar_t, unsigned char>;
TYPED_TEST_SUITE(BufferAllocationSweepTest, ElementTypes);

template <class T>
struct One {
    CQIRBuffer<T> buffer;
};

template <class T>
struct Two {
    CQIRBuffer<T> target{};
    CQIRBuffer<T> source{};
    bool ok = false;
};

template <class T>
struct Built {
    CQIRBuffer<T> source{};
    sweep::Slot<CQIRBuffer<T>> made{};
};

template <class T>
std::string showBuilt(const Built<T>& b) {
    return b.made.built() ? show(b.made.get()) : "nothing";
}

TYPED_TEST(BufferAllocationSweepTest, CountConstructorReportsAfterTheAllocation) {
    using T = TypeParam;
    sweep::expect([] { return Built<T>{}; },
                  [](Built<T>& b) { b.made.build([] { return CQIRBuffer<T>(3); }); }, showBuilt<T>,
                  {Row{{this->allocFailed(3), records::countConstructionFailed(this->e)}, "[]"}},
                  "[0 0 0]");
}

TYPED_TEST(BufferAllocationSweepTest, RawConstructorReportsAfterTheAllocation) {
    using T = TypeParam;
    static const T source[] = {1, 2, 3};
    sweep::expect(
        [] { return Built<T>{}; },
        [](Built<T>& b) { b.made.build([] { return CQIRBuffer<T>(source, 3); }); }, showBuilt<T>,
        {Row{{this->allocFailed(3), records::rawConstructionFailed(this->e)}, "[]"}}, "[1 2 3]");
}

TYPED_TEST(BufferAllocationSweepTest, CopyConstructorReportsTheAssignment) {
    using T = TypeParam;
    sweep::expect(
        [] {
            return Built<T>{make<T>({1, 2, 3})};
        },
        [](Built<T>& b) { b.made.build([&] { return CQIRBuffer<T>(b.source); }); }, showBuilt<T>,
        {Row{{this->allocFailed(3), this->assignmentFailed()}, "[]"}}, "[1 2 3]");
}

TYPED_TEST(BufferAllocationSweepTest, Assignment) {
    using T = TypeParam;
    sweep::expect(
        [] {
            return Two<T>{make<T>({9, 9}), make<T>({1, 2, 3})};
        },
        [](Two<T>& s) { s.target = s.source; },
        [](Two<T>& s) { return show(s.target) + show(s.source); },
        {Row{{this->allocFailed(3), this->assignmentFailed()}, "[][1 2 3]"}}, "[1 2 3][1 2 3]");
}

TYPED_TEST(BufferAllocationSweepTest, AllocLeavesTheBufferEmpty) {
    using T = TypeParam;
    sweep::expect(
        [] {
            return Two<T>{make<T>({1, 2})};
        },
        [](Two<T>& s) { s.ok = s.target.alloc(4); },
        [](Two<T>& s) { return show(s.ok) + show(s.target); },
        {Row{{this->allocFailed(4)}, "false []"}}, "true [0 0 0 0]");
}

TYPED_TEST(BufferAllocationSweepTest, ReAllocKeepsOrLosesTheElements) {
    using T = TypeParam;
    for (uint32_t count : {5u, 2u}) {
        SCOPED_TRACE(count);
        sweep::expect(
            [] {
                return Two<T>{make<T>({1, 2, 3})};
            },
            [count](Two<T>& s) { s.ok = s.target.reAlloc(count); },
            [](Two<T>& s) { return show(s.ok) + show(s.target); },
            {// the copy of the old elements: nothing lost
             Row{{this->allocFailed(3), this->assignmentFailed()}, "false [1 2 3]"},
             // the new storage: the buffer is empty
             Row{{this->allocFailed(count)}, "false []"}},
            count == 5 ? "true [1 2 3 0 0]" : "true [1 2]");
    }
}

TYPED_TEST(BufferAllocationSweepTest, WriteThatGrows) {
    using T = TypeParam;
    sweep::expect(
        [] {
            return Two<T>{make<T>({1, 2, 3, 4, 5}), make<T>({10, 11})};
        },
        [](Two<T>& s) { s.ok = s.target.write(s.source, 4); },
        [](Two<T>& s) { return show(s.ok) + show(s.target); },
        {Row{{this->allocFailed(5), this->assignmentFailed()}, "false [1 2 3 4 5]"},
         Row{{this->allocFailed(6)}, "false []"}},
        "true [1 2 3 4 10 11]");
}

TYPED_TEST(BufferAllocationSweepTest, AppendOperatorReportsAfterTheBuffer) {
    using T = TypeParam;
    const Record appendFailed = records::appendFailed(this->e);
    sweep::expect(
        [] {
            return Two<T>{make<T>({1, 2}), make<T>({3})};
        },
        [](Two<T>& s) { s.target += s.source; }, [](Two<T>& s) { return show(s.target); },
        {Row{{this->allocFailed(2), this->assignmentFailed(), appendFailed}, "[1 2]"},
         Row{{this->allocFailed(3), appendFailed}, "[]"}},
        "[1 2 3]");
}

TYPED_TEST(BufferAllocationSweepTest, PlusOnAFailedWorkingCopy) {
    using T = TypeParam;
    const Record appendFailed = records::appendFailed(this->e);
    struct Sum {
        CQIRBuffer<T> left;
        CQIRBuffer<T> right;
        sweep::Slot<CQIRBuffer<T>> result{};
    };
    sweep::expect(
        [] {
            return Sum{make<T>({1, 2}), make<T>({3})};
        },
        [](Sum& s) { s.result.build([&] { return s.left + s.right; }); },
        [](Sum& s) { return show(s.result.get()) + show(s.left) + show(s.right); },
        {// the working copy of the left operand: only the right one arrives
         Row{{this->allocFailed(2), this->assignmentFailed()}, "[3][1 2][3]"},
         Row{{this->allocFailed(2), this->assignmentFailed(), appendFailed}, "[1 2][1 2][3]"},
         Row{{this->allocFailed(3), appendFailed}, "[][1 2][3]"}},
        "[1 2 3][1 2][3]");
}

TYPED_TEST(BufferAllocationSweepTest, EveryAllocationRefused) {
    using T = TypeParam;
    EXPECT_EQ(sweep::underNoMemory(
                  [] {
                      return Two<T>{make<T>({1, 2, 3}), make<T>({4})};
                  },
                  [](Two<T>& s) {
                      s.ok = s.target.append(s.source);
                      s.source = s.target;
                  },
                  [](Two<T>& s) { return show(s.ok) + show(s.target) + show(s.source); }),
              "false [1 2 3][]");
    EXPECT_EQ(sweep::underNoMemory(
                  [] {
                      return Two<T>{make<T>({1, 2, 3})};
                  },
                  [](Two<T>& s) { s.ok = s.target.reAlloc(9) || s.target.alloc(1); },
                  [](Two<T>& s) { return show(s.ok) + show(s.target); }),
              "false []");
}

// --- conversions ---

template <class From, class To>
struct Conversion {
    CQIRBuffer<From> from;
    sweep::Slot<CQIRBuffer<To>> to{};
};

template <class From, class To>
void expectConversionSweep(const bufvals::Values& values, const std::vector<Row>& failing,
                           const std::string& success) {
    sweep::expect([&] { return Conversion<From, To>{make<From>(values)}; },
                  [](Conversion<From, To>& c) {
                      // Called by name: a conversion to the buffer's own type is not otherwise
                      // used.
                      c.to.build([&] { return c.from.operator CQIRBuffer<To>(); });
                  },
                  [](Conversion<From, To>& c) { return show(c.to.get()) + show(c.from); }, failing,
                  success);
}

TEST(BufferConversionSweepTest, BytesToWideReportTheConversion) {
    for (const std::string e : {"char", "unsigned char"}) {
        SCOPED_TRACE(e);
        const std::vector<Row> failing = {
            // the zero-filled units
            Row{{records::allocFailed("wchar_t", 2), records::countConstructionFailed("wchar_t"),
                 records::castWideFailed(e)},
                "[][65 66 0]"},
            // the result
            Row{{records::allocFailed("wchar_t", 2), records::assignmentFailed("wchar_t")},
                "[][65 66 0]"}};
        if (e == "char") {
            expectConversionSweep<char, qir_wchar_t>({65, 66, 0}, failing, "[16961 0][65 66 0]");
        } else {
            expectConversionSweep<unsigned char, qir_wchar_t>({65, 66, 0}, failing,
                                                              "[16961 0][65 66 0]");
        }
    }
}

TEST(BufferConversionSweepTest, WideToBytesReportTheirBuffers) {
    expectConversionSweep<qir_wchar_t, char>(
        {0x4241, 0},
        {Row{{records::allocFailed("char", 4), records::rawConstructionFailed("char")},
             "[][16961 0]"},
         Row{{records::allocFailed("char", 4), records::assignmentFailed("char")}, "[][16961 0]"}},
        "[65 66 0 0][16961 0]");
    expectConversionSweep<qir_wchar_t, qir_wchar_t>(
        {0x4241, 0},
        {Row{{records::allocFailed("wchar_t", 2), records::rawConstructionFailed("wchar_t")},
             "[][16961 0]"},
         Row{{records::allocFailed("wchar_t", 2), records::assignmentFailed("wchar_t")},
             "[][16961 0]"}},
        "[16961 0][16961 0]");
    expectConversionSweep<char, unsigned char>(
        {1, 2},
        {Row{{records::allocFailed("unsigned char", 2),
              records::rawConstructionFailed("unsigned char")},
             "[][1 2]"},
         Row{{records::allocFailed("unsigned char", 2), records::assignmentFailed("unsigned char")},
             "[][1 2]"}},
        "[1 2][1 2]");
}

}  // namespace
