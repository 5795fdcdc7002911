// CQIRBuffer<T> for every element type: each operation at its boundaries and with each of its
// allocations failing in turn, reads of byte buffers, the conversions between element types,
// and the storage operations reaching one another through the virtual table.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "qir_buffer.h"
#include "string_harness.h"

namespace {

using harness::yes;
using Bytes = CQIRBuffer<unsigned char>;

// Every report of this program goes to a log file of its own.
const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

// A buffer claiming `count` elements over eight of its own: a count near 2^32 for operations
// that must refuse it before touching an element.
template <class T>
struct Claimed : CQIRBuffer<T> {
    explicit Claimed(uint32_t count) : CQIRBuffer<T>() {
        this->m_pBuffer = m_storage, this->m_ulSize = count;
    }
    ~Claimed() override { this->m_pBuffer = nullptr; }
    T m_storage[8] = {};
};

template <class T>
struct Job {
    CQIRBuffer<T> t, s;
    unsigned char byte = 0xEE;
    uint32_t value = 0xEEEEEEEE;
};

// Runs r.op on the target t and the source s, and writes its outcome: what it answers, and
// the target afterwards or what it makes. Reads are of byte buffers only.
template <class T, class B = CQIRBuffer<T>>
void act(const harness::Row& r, Job<T>& j, harness::Out& o) {
    const std::string& op = r.op;
    B& t = j.t;
    if constexpr (std::is_same_v<T, unsigned char>) {
        op == "byte" ? (o << yes(t.read(j.byte, r.n))).write(&j.byte, 1)
        : op == "value"
            ? (o << yes(t.read(j.value, r.n))).write(reinterpret_cast<unsigned char*>(&j.value), 4)
        : op == "block" ? o << yes(t.read(j.s, r.n)) << j.s
                        : o;
    }
    op == "count"        ? o << B(r.n)
    : op == "raw"        ? o << B(j.s.getBuffer(), r.n)
    : op == "copy"       ? o << B(j.s)
    : op == "plus"       ? o << t + j.s
    : op == "self="      ? o << (t = *&t)
    : op == "alloc"      ? o << yes(t.alloc(r.n)) << t
    : op == "reAlloc"    ? o << yes(t.reAlloc(r.n)) << t
    : op == "zeroFill"   ? o << yes(t.zeroFill()) << t
    : op == "flush"      ? o << yes(t.flush()) << t
    : op == "write"      ? o << yes(t.write(j.s, r.n)) << t
    : op == "claimed"    ? o << yes(t.write(Claimed<T>(r.n), 5)) << t
    : op == "writeSelf"  ? o << yes(t.write(t, r.n)) << t
    : op == "append"     ? o << yes(t.append(j.s)) << t
    : op == "appendSelf" ? o << yes(t.append(t)) << t
    : op == "add"        ? o << (t += j.s)
    : op == "addSelf"    ? o << (t += t)
    : op == "toChar"     ? o << t.operator CQIRBuffer<char>()  // by name: one is to its own type
    : op == "toWide"     ? o << t.operator CQIRBuffer<qir_wchar_t>()
                         : o;
}

class BufferTest : public testing::TestWithParam<const char*> {};

TEST_P(BufferTest, WritesTheOutcomeAndReportsOfItsScript) {
    const harness::Row r = harness::row(GetParam());
    harness::forEachType<CQIRBuffer<char>, CQIRBuffer<qir_wchar_t>, Bytes>(
        GetParam(), [&](auto tag) {
            using T = std::remove_pointer_t<decltype(tag.getBuffer())>;
            harness::check(
                r.script, harness::letter<T>(),
                [&] {
                    return Job<T>{harness::make<T>(r.left), harness::make<T>(r.right)};
                },
                [&](Job<T>& j, harness::Out& o) { act(r, j, o); });
        });
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BufferTest,
    testing::Values(
        "count | > empty", "count:3 | 900/3 450 > empty; > ~~~", "raw:5 x | > empty",
        "raw:3 x abc | 900/3 472 > empty; > abc", "copy x | > empty",
        "copy x abc | 900/3 507 > empty; > abc", "self= def | > def",
        "alloc:4 ab | 900/4 > false empty; > true ~~~~", "alloc ab | > true empty",
        "zeroFill ab | > true ~~", "zeroFill | > false empty", "flush ab | > true empty",
        // The copy of the old elements failing leaves them; the new storage failing, nothing.
        "reAlloc:5 abc | 900/3 507 > false abc; 900/5 > false empty; > true abc~~",
        "reAlloc:2 abc | 900/3 507 > false abc; 900/2 > false empty; > true ab",
        "write abcde XY | > true XYcde", "write:3 abcde XY | > true abcXY",
        "write:4 abcde XY | 900/5 507 > false abcde; 900/6 > false empty; > true abcdXY",
        "write:5 abcde X | > true abcdeX", "write:6 abcde X | 1414 > false abcde",
        "write:6 abcde | 1414 > false abcde", "write:0xffffffff abcde X | 1414 > false abcde",
        // An end of 2^32 or beyond is refused, whatever it wraps to in 32 bits.
        "claimed:0xfffffffb abcde | 1414 > false abcde",
        "claimed:0xfffffffe abcde | 1414 > false abcde",
        // A buffer written into itself copies its old elements.
        "writeSelf abcd | > true abcd", "writeSelf:2 abcd | > true ababcd",
        "appendSelf efg | > true efgefg", "addSelf hi | > hihi", "append empty ab | > true ab",
        "add g | > g", "add ab c | 900/2 507 561 > ab; 900/3 561 > empty; > abc",
        // The working copy of the left operand failing: only the right one arrives.
        "plus ab c | 900/2 507 > c; 900/2 507 561 > ab; 900/3 561 > empty; > abc",
        "plus empty ab | > ab", "b.byte:4 abcd<85> | > true <85>",
        "b.byte:5 abcd<85> | 1196 > false <ee>", "b.byte:0xffffffff abcd<85> | 1196 > false <ee>",
        "b.value:1 abcd<85> | > true bcd<85>", "b.value:2 abcd<85> | 1316 > false <ee><ee><ee><ee>",
        "b.value:0xfffffffd abcd<85> | 1316 > false <ee><ee><ee><ee>",
        "b.block:2 abcd<85> <ee>~~ | > true cd<85>",
        "b.block:3 abcd<85> <ee>~~ | 1128 > false <ee>~~",
        "b.block:0xfffffffe abcd<85> <ee>~~ | 1128 > false <ee>~~",
        "b.block:0xffffffff abcd<85> | 1133 > true empty",
        // Wide elements give their low-order byte first; bytes pair up, an odd last one alone.
        "w.toChar A~<abcd> | > A~~~<cd><ab>",
        "w.toChar <4241>~ | 900c/4 472c > empty; 900c/4 507c > empty; > AB~~", "w.toChar | > empty",
        "c.toWide <1><2><fe><ff> | > <201><fffe>", "b.toWide <ff><ff><80> | > <ffff><80>",
        "c.toWide AB~ | 900w/2 450w 737 > empty; 900w/2 507w > empty; > <4241>~",
        "b.toWide AB~ | 900w/2 450w 737 > empty; 900w/2 507w > empty; > <4241>~",
        "w.toWide <d83d><1> | 900/2 472 > empty; 900/2 507 > empty; > <d83d><1>",
        "b.toChar a<80> | > a<80>", "c.toChar a<80> | > a<80>"));

// Notes the storage operations that reach it through the virtual table, and can refuse a
// release as a heap other than new and delete could.
template <class T>
struct Spy : CQIRBuffer<T> {
    using CQIRBuffer<T>::CQIRBuffer;
    bool note(const std::string& call) { return calls += call, true; }
    bool zeroFill() override { return note("z") && CQIRBuffer<T>::zeroFill(); }
    bool alloc(uint32_t n) override {
        return note("a" + std::to_string(n)) && CQIRBuffer<T>::alloc(n);
    }
    bool destroy() override { return note("d") && !refuse && CQIRBuffer<T>::destroy(); }
    bool reAlloc(uint32_t n) override {
        return note("r" + std::to_string(n)) && CQIRBuffer<T>::reAlloc(n);
    }
    std::string calls;
    bool refuse = false;
};

TEST(BufferDispatchTest, StorageOperationsCallOneAnotherThroughTheTable) {
    harness::forEachType<CQIRBuffer<char>, CQIRBuffer<qir_wchar_t>, Bytes>("", [](auto tag) {
        using T = std::remove_pointer_t<decltype(tag.getBuffer())>;
        using B = CQIRBuffer<T>;
        const B two = harness::make<T>("ab");
        // Constructors use the class's own alloc; the refused releases are reported.
        harness::check(
            "919 919 561 919 507 > true false r4a4dzza2dzzdza5dr2a2da2d", harness::letter<T>(),
            [] { return Spy<T>(3); },
            [&](Spy<T>& spy, harness::Out& o) {
                o << yes(spy.write(two, 2) && spy.append(B()) &&
                         (static_cast<B&>(spy) = two).flush());
                o << (spy.refuse = true, yes(spy.alloc(5)));
                static_cast<B&>(spy += two) = two;
                o << spy.calls.c_str();
            });
    });
}

}  // namespace
