// CQIRBuffer<T> for every element type: each operation at its boundaries and with each of its
// allocations failing in turn, reads of byte buffers, the conversions between element types,
// and the storage operations reaching one another through the virtual table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "qir_buffer.h"
#include "string_harness.h"

namespace {

using harness::elements;
using harness::make;
using harness::yes;
using Bytes = CQIRBuffer<unsigned char>;

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
        this->m_pBuffer = m_storage, this->m_ulSize = count;
    }
    ~Claimed() override { this->m_pBuffer = nullptr; }
    T m_storage[8] = {};
};

template <class B>
int replace(B& target, B made) {
    target.swap(made);
    return -1;
}

// A read of a byte or a value: its answer, its bytes (<ee> where untouched) in place of the target.
template <class V>
int readInto(Bytes& target, uint32_t offset) {
    V value;
    std::memset(&value, 0xEE, sizeof value);
    const bool ok = target.read(value, offset);
    return replace(target, Bytes(reinterpret_cast<unsigned char*>(&value), sizeof value)) + 1 + ok;
}

int unknown(const std::string& op) {
    ADD_FAILURE() << "no operation " << op;
    return -1;
}

// Runs r.op on `t` and `s`: the answer (-1: none), the target replaced by what the op makes.
template <class T, class B = CQIRBuffer<T>>
int run(const harness::Row& r, B& t, B& s) {
    const std::string& op = r.op;
    if constexpr (std::is_same_v<T, unsigned char>) {
        if (op == "byte" || op == "value" || op == "block") {
            return op == "byte"     ? readInto<unsigned char>(t, r.n)
                   : op == "value"  ? readInto<uint32_t>(t, r.n)
                   : t.read(s, r.n) ? replace(t, B(s)) + 2
                                    : replace(t, B(s)) + 1;
        }
    }
    return op == "count"        ? replace(t, B(r.n))
           : op == "raw"        ? replace(t, B(s.getBuffer(), r.n))
           : op == "copy"       ? replace(t, B(s))
           : op == "plus"       ? replace(t, t + s)
           : op == "assign"     ? (t = s, -1)
           : op == "self="      ? (t = *&t, -1)
           : op == "alloc"      ? t.alloc(r.n)
           : op == "reAlloc"    ? t.reAlloc(r.n)
           : op == "zeroFill"   ? t.zeroFill()
           : op == "flush"      ? t.flush()
           : op == "destroy"    ? t.destroy()
           : op == "swap"       ? (t.swap(s), -1)
           : op == "write"      ? t.write(s, r.n)
           : op == "claimed"    ? t.write(Claimed<T>(r.n), 5)
           : op == "writeSelf"  ? t.write(t, r.n)
           : op == "append"     ? t.append(s)
           : op == "appendSelf" ? t.append(t)
           : op == "add"        ? (t += s, -1)
           : op == "addSelf"    ? (t += t, -1)
                                : unknown(op);
}

class BufferTest : public testing::TestWithParam<const char*> {};

TEST_P(BufferTest, LeavesTheStateAndReportsOfItsScript) {
    const harness::Row r = harness::row(GetParam());
    forEachElement([&](auto tag) {
        using T = decltype(tag);
        struct Job {
            CQIRBuffer<T> target, source;
            int answer;
        };
        SCOPED_TRACE(harness::letter<T>());
        if (std::string("byte value block").find(r.op) == std::string::npos ||
            harness::letter<T>() == 'b') {
            harness::check(
                r.script, harness::letter<T>(),
                [&] {
                    return Job{make<T>(r.left), make<T>(r.right), -1};
                },
                [&](Job& j) { j.answer = run<T>(r, j.target, j.source); },
                [](Job& j) {
                    return ((j.answer < 0 ? harness::Out() : harness::Out() << yes(j.answer))
                            << j.target)
                        .text;
                });
        }
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
        "plus empty ab | > ab",
        // Reads of byte buffers.
        "byte:4 abcd<85> | > true <85>", "byte:5 abcd<85> | 1196b > false <ee>",
        "byte:0xffffffff abcd<85> | 1196b > false <ee>", "value:1 abcd<85> | > true bcd<85>",
        "value:2 abcd<85> | 1316b > false <ee><ee><ee><ee>",
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
        const CQIRBuffer<T> two = make<T>("ab");
        Spy<T> spy(3);  // constructors use the class's own alloc
        EXPECT_TRUE(spy.write(two, 2) && spy.append(CQIRBuffer<T>()));
        static_cast<CQIRBuffer<T>&>(spy) = two;
        EXPECT_TRUE(spy.flush());
        EXPECT_EQ(elements(spy) + " " + spy.calls,
                  "empty r4a4dzz"
                  "a2dzz"
                  "dz")
            << e;
        spy.refuse = true;
        const auto refused = harness::reports([&] {
            EXPECT_FALSE(spy.alloc(5));
            spy += two;
            static_cast<CQIRBuffer<T>&>(spy) = two;
        });
        EXPECT_EQ(refused, harness::expectedLines("919 919 561 919 507", e));
        spy.refuse = false;
    });
}

}  // namespace
