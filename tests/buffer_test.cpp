// CQIRBuffer<T> for every element type: each operation at its boundaries and with each of its
// allocations failing in turn, reads of byte buffers, the conversions between element types,
// and the storage operations reaching one another through the virtual table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "qir_buffer.h"
#include "string_harness.h"

namespace {

using harness::elements;
using harness::make;
using harness::yes;

// Every report of this program goes to a log file of its own.
const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

template <class F>
void forEachElement(F f) {
    f(char{});
    f(qir_wchar_t{});
    f(static_cast<unsigned char>(0));
}

// A buffer claiming `count` elements over eight of its own: a count near 2^32 for operations
// that must refuse it before touching an element.
template <class T>
struct Claimed : CQIRBuffer<T> {
    explicit Claimed(uint32_t count) : CQIRBuffer<T>() {
        this->m_pBuffer = m_storage;
        this->m_ulSize = count;
    }
    ~Claimed() override { this->m_pBuffer = nullptr; }
    T m_storage[8] = {};
};

template <class T>
struct Job {
    CQIRBuffer<T> target, source;
    int answer = -1;
};

template <class B>
void replace(B& target, B made) {
    target.swap(made);
}

// What a read of a byte or a value gives: its answer, then its bytes (untouched: <ee>).
template <class V>
std::string readValue(const CQIRBuffer<unsigned char>& bytes, uint32_t offset) {
    V value;
    std::memset(&value, 0xEE, sizeof value);
    const bool ok = bytes.read(value, offset);
    return yes(ok) + " " + elements(reinterpret_cast<unsigned char*>(&value), sizeof value);
}

template <class T, class B = CQIRBuffer<T>>
const std::map<std::string, std::function<void(Job<T>&, uint32_t)>> kOps = {
    {"count", [](Job<T>& j, uint32_t n) { replace(j.target, B(n)); }},
    {"raw", [](Job<T>& j, uint32_t n) { replace(j.target, B(j.source.getBuffer(), n)); }},
    {"copy", [](Job<T>& j, uint32_t) { replace(j.target, B(j.source)); }},
    {"plus", [](Job<T>& j, uint32_t) { replace(j.target, j.target + j.source); }},
    {"assign", [](Job<T>& j, uint32_t) { j.target = j.source; }},
    {"self=", [](Job<T>& j, uint32_t) { j.target = *&j.target; }},
    {"alloc", [](Job<T>& j, uint32_t n) { j.answer = j.target.alloc(n); }},
    {"reAlloc", [](Job<T>& j, uint32_t n) { j.answer = j.target.reAlloc(n); }},
    {"zeroFill", [](Job<T>& j, uint32_t) { j.answer = j.target.zeroFill(); }},
    {"flush", [](Job<T>& j, uint32_t) { j.answer = j.target.flush(); }},
    {"destroy", [](Job<T>& j, uint32_t) { j.answer = j.target.destroy(); }},
    {"swap", [](Job<T>& j, uint32_t) { j.target.swap(j.source); }},
    {"write", [](Job<T>& j, uint32_t n) { j.answer = j.target.write(j.source, n); }},
    {"claimed", [](Job<T>& j, uint32_t n) { j.answer = j.target.write(Claimed<T>(n), 5); }},
    {"writeSelf", [](Job<T>& j, uint32_t n) { j.answer = j.target.write(j.target, n); }},
    {"append", [](Job<T>& j, uint32_t) { j.answer = j.target.append(j.source); }},
    {"appendSelf", [](Job<T>& j, uint32_t) { j.answer = j.target.append(j.target); }},
    {"add", [](Job<T>& j, uint32_t) { j.target += j.source; }},
    {"addSelf", [](Job<T>& j, uint32_t) { j.target += j.target; }},
};

class BufferTest : public testing::TestWithParam<const char*> {};

TEST_P(BufferTest, LeavesTheStateAndReportsOfItsScript) {
    const harness::Row r = harness::row(GetParam());
    forEachElement([&](auto tag) {
        using T = decltype(tag);
        const char e = harness::letter<T>();
        SCOPED_TRACE(e);
        if (r.op == "byte" || r.op == "value" || r.op == "block") {
            if constexpr (std::is_same_v<T, unsigned char>) {  // reads, of byte buffers only
                struct Read {
                    CQIRBuffer<T> bytes, block;
                    std::string got;
                };
                harness::check(
                    r.script, e,
                    [&] {
                        return Read{make<T>(r.left), make<T>(r.right), ""};
                    },
                    [&](Read& x) {
                        x.got = r.op == "byte"    ? readValue<unsigned char>(x.bytes, r.n)
                                : r.op == "value" ? readValue<uint32_t>(x.bytes, r.n)
                                : x.bytes.read(x.block, r.n) ? "true " + elements(x.block)
                                                             : "false " + elements(x.block);
                    },
                    [](Read& x) { return x.got; });
            }
            return;
        }
        ASSERT_EQ(kOps<T>.count(r.op), 1u) << r.op;
        harness::check(
            r.script, e,
            [&] {
                return Job<T>{make<T>(r.left), make<T>(r.right)};
            },
            [&](Job<T>& j) { kOps<T>.at(r.op)(j, r.n); },
            [](Job<T>& j) {
                return (j.answer < 0 ? "" : yes(j.answer) + " ") + elements(j.target);
            });
    });
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BufferTest,
    testing::Values(
        "count | > empty", "count:3 | 900/3 450 > empty; > ~~~", "raw:5 x | > empty",
        "raw:3 x abc | 900/3 472 > empty; > abc", "copy x abc | 900/3 507 > empty; > abc",
        "copy x | > empty", "assign xy abc | 900/3 507 > empty; > abc", "assign xy | > empty",
        "self= def | > def", "alloc:4 ab | 900/4 > false empty; > true ~~~~",
        "alloc ab | > true empty", "zeroFill ab | > true ~~", "zeroFill | > false empty",
        "flush ab | > true empty", "destroy c | > true empty", "destroy | > true empty",
        "swap ab c | > c",
        // The copy of the old elements failing leaves them; the new storage failing, nothing.
        "reAlloc:5 abc | 900/3 507 > false abc; 900/5 > false empty; > true abc~~",
        "reAlloc:2 abc | 900/3 507 > false abc; 900/2 > false empty; > true ab",
        "reAlloc:3 abc | > true abc", "reAlloc abc | > true empty", "write abcde XY | > true XYcde",
        "write:3 abcde XY | > true abcXY",
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
        "plus empty ab | > ab", "byte:4 abcd<85> | > true <85>",
        "byte:5 abcd<85> | 1196b > false <ee>", "byte:0xffffffff abcd<85> | 1196b > false <ee>",
        "value:1 abcd<85> | > true bcd<85>", "value:2 abcd<85> | 1316b > false <ee><ee><ee><ee>",
        "value:0xfffffffd abcd<85> | 1316b > false <ee><ee><ee><ee>",
        "block:2 abcd<85> <ee>~~ | > true cd<85>", "block:3 abcd<85> <ee>~~ | 1128b > false <ee>~~",
        "block:0xfffffffe abcd<85> <ee>~~ | 1128b > false <ee>~~",
        "block:0xffffffff abcd<85> | 1133b > true empty"));

// The conversion of `from` to a buffer of To, checked against a harness::check script.
template <class From, class To>
void convert(const std::string& from, const std::string& script) {
    SCOPED_TRACE(std::string(1, harness::letter<From>()) + " to " + harness::letter<To>());
    struct Conversion {
        CQIRBuffer<From> from;
        CQIRBuffer<To> to{};
    };
    harness::check(
        script, harness::letter<From>(), [&] { return Conversion{make<From>(from)}; },
        [](Conversion& c) {
            replace(c.to, c.from.operator CQIRBuffer<To>());
        },  // by name: one is to its own type
        [&](Conversion& c) {
            return elements(c.to) + (elements(c.from) == from ? "" : " changed");
        });
}

TEST(BufferConversionTest, CopiesTheBytesAsTheyLie) {
    // Wide elements give their low-order byte first; bytes pair up, an odd last one alone.
    convert<qir_wchar_t, char>("A~<abcd>", "> A~~~<cd><ab>");
    convert<qir_wchar_t, char>("<4241>~", "900c/4 472c > empty; 900c/4 507c > empty; > AB~~");
    convert<qir_wchar_t, char>("empty", "> empty");
    convert<char, qir_wchar_t>("<1><2><fe><ff>", "> <201><fffe>");
    convert<unsigned char, qir_wchar_t>("<ff><ff><80>", "> <ffff><80>");
    convert<char, qir_wchar_t>("AB~", "900w/2 450w 737 > empty; 900w/2 507w > empty; > <4241>~");
    convert<unsigned char, qir_wchar_t>("AB~",
                                        "900w/2 450w 737 > empty; 900w/2 507w > empty; > <4241>~");
    convert<qir_wchar_t, qir_wchar_t>("<d83d><1>",
                                      "900/2 472 > empty; 900/2 507 > empty; > <d83d><1>");
    convert<char, unsigned char>("a<80>", "900b/2 472b > empty; 900b/2 507b > empty; > a<80>");
    convert<unsigned char, char>("a<80>", "> a<80>");
    convert<char, char>("a<80>", "> a<80>");
}

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
    forEachElement([&](auto tag) {
        using T = decltype(tag);
        const char e = harness::letter<T>();
        SCOPED_TRACE(e);
        const CQIRBuffer<T> two = make<T>("ab");
        Spy<T> spy(3);  // constructors use the class's own alloc
        EXPECT_TRUE(spy.write(two, 2));
        EXPECT_TRUE(spy.append(CQIRBuffer<T>()));
        EXPECT_EQ(elements(spy) + " " + spy.calls, "~~ab r4a4dzz");
        spy.refuse = true;
        EXPECT_EQ(harness::reports([&] { EXPECT_FALSE(spy.alloc(5)); }),
                  harness::expectedLines("919", e));
        EXPECT_EQ(harness::reports([&] { spy += two; }), harness::expectedLines("919 561", e));
        EXPECT_EQ(harness::reports([&] { static_cast<CQIRBuffer<T>&>(spy) = two; }),
                  harness::expectedLines("919 507", e));
        EXPECT_EQ(elements(spy), "~~ab");
        spy.refuse = false;
        spy.calls.clear();
        static_cast<CQIRBuffer<T>&>(spy) = two;
        EXPECT_TRUE(spy.flush());
        EXPECT_EQ(spy.calls,
                  "a2dzz"
                  "dz");
    });
}

}  // namespace
