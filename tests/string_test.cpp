// Buffers of every element type, CQIRStringMultiByte and CQIRStringWChar, and log strings of
// both widths: each operation as a table row, run at its boundaries and with each of its
// allocations failing in turn, its outcome and the log lines of its reports read back.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "alloc_seam.h"
#include "log_capture.h"
#include "qir_buffer.h"
#include "qir_log_string.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"
#include "qir_sys/error.h"
#include "scoped_locale.h"

namespace {

using Bytes = CQIRBuffer<unsigned char>;
using Narrow = CQIRStringMultiByte;
using Wide = CQIRStringWChar;
using LogNarrow = CQIRLogStringMultiByte;
using LogWide = CQIRLogStringWChar;
template <class S>
using CharOf = std::remove_const_t<std::remove_pointer_t<decltype(std::declval<S&>().getBuffer())>>;

// Every report of this program goes to a log file of its own.
const testing::Environment* const kCapture = testing::AddGlobalTestEnvironment(new LogCapture);

const auto yes = [](bool value) { return value ? "true" : "false"; };

// Elements as text: printable ASCII as itself, '~' a zero, '_' a blank, <hex> any other value,
// "empty" no storage at all.
std::vector<uint32_t> parse(const std::string& text) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < text.size() && text != "empty"; ++i) {
        const size_t close = text[i] == '<' ? text.find('>', i) : i;
        out.push_back(close != i       ? std::stoul(text.substr(i + 1, close - i - 1), nullptr, 16)
                      : text[i] == '~' ? 0
                      : text[i] == '_' ? ' '
                                       : static_cast<unsigned char>(text[i]));
        i = close;
    }
    return out;
}

template <class T>
CQIRBuffer<T> make(const std::string& text) {
    const std::vector<uint32_t> values = parse(text);
    const std::vector<T> elements(values.begin(), values.end());
    return CQIRBuffer<T>(elements.data(), static_cast<uint32_t>(elements.size()));
}

// A buffer, string or log string holding exactly these elements, whatever its text rules say.
template <class S>
S raw(const std::string& text) {
    const std::vector<uint32_t> values = parse(text);
    S s;
    if constexpr (std::is_base_of_v<CQIRBuffer<CharOf<S>>, S>) {
        static_cast<CQIRBuffer<CharOf<S>>&>(s) = make<CharOf<S>>(text);
    } else if (s.resize(static_cast<uint32_t>(values.size())) && !values.empty()) {
        std::copy(values.begin(), values.end(), const_cast<CharOf<S>*>(s.getBuffer()));
    }
    return s;
}

// An outcome as text, items separated by blanks, written into storage reserved beforehand:
// an operation writes its outcome without allocating while a sweep counts allocations.
struct Out {
    std::string text;
    Out() { text.reserve(4096); }
    Out& operator<<(const char* item) {
        text += text.empty() ? "" : " ";
        text += item;
        return *this;
    }
    Out& operator<<(double value) {
        char item[32];
        std::snprintf(item, sizeof item, "%.12g", value);
        return *this << (std::isinf(value) ? "inf" : item);
    }
    // Elements as parse() reads them, and "+N" for N more; storage and count that disagree
    // show as such.
    template <class T>
    Out& write(const T* p, uint32_t n, uint32_t more = 0) {
        *this << (p != nullptr ? "" : n == 0 ? "empty" : "null");
        for (uint32_t i = 0; p != nullptr && i < n; ++i) {
            const auto v = static_cast<unsigned>(static_cast<std::make_unsigned_t<T>>(p[i]));
            char item[16];
            const bool plain = v > ' ' && v < 127 && v != '<' && v != '~' && v != '_';
            std::snprintf(item, sizeof item, plain ? "%c" : "<%x>", v);
            text += v == 0 ? "~" : v == ' ' ? "_" : item;
        }
        text += more != 0 ? "+" + std::to_string(more) : "";
        return *this;
    }
    template <class T>
    Out& operator<<(const CQIRBuffer<T>& buffer) {
        return write(buffer.getBuffer(), buffer.getSize());
    }
    // A log string up to its first zero and the zero, and "+N" for N more elements of storage.
    template <class C, class S>
    Out& operator<<(const CQIRLogStringBase<C, S>& s) {
        uint32_t n = 0;
        while (n < s.getSize() && s.getBuffer()[n++] != 0) {
        }
        return write(s.getBuffer(), n, s.getSize() - n);
    }
};

// 'c', 'w' or 'b': the element type of a buffer or string, in record codes and rows.
template <class T>
constexpr char kLetter = std::is_same_v<T, char>            ? 'c'
                         : std::is_same_v<T, unsigned char> ? 'b'
                                                            : 'w';

// The thread's last-error value before a run: the first record of a run carries it. The later
// ones carry whatever writing the earlier ones left, shown as CODE in read and expected lines.
constexpr uint32_t kLastError = 0x4D2;

std::string maskCode(const std::string& line) {
    const size_t at = line.find("<Return Code: ") + 14;
    return at < 14 ? line : line.substr(0, at) + "CODE" + line.substr(line.find('>', at));
}

// The sites that report: source line, function, task and message.
const char* const kSites = R"(
54|operator +|Operator+|Unable to append the string because the write call failed.
239|operator class CQIRBuffer<unsigned char>|OperatorByteBuffer|Serialized size does not match expected
321|deserialize|Deserialize|Unsupported serialized string format
359|operator class CQIRBuffer<wchar_t>|CastWCHAR|Unable to convert multibyte string into wide char string
364|operator class CQIRBuffer<wchar_t>|CastWCHAR|Unable to create buffer to hold wchar string
421|serialize|Serialize|Serialized size does not match expected
450|CQIRBuffer|Construction|Unable to allocate memory for construction
472|CQIRBuffer|Construction|Unable to allocate memory for construction
507|operator =|Assignment|Unable to allocate memory for assignment
561|operator +=|Operator+=|Unable to append buffer
737|operator class CQIRBuffer<wchar_t>|CastWChar|Unable to allocate memory for conversion
900|alloc|GenericAlloc|Unable to allocate memory ( m_pBuffer ) of size (
919|alloc|MemoryAllocation|Unable to free memory before allocation
1128|read|Read|Unable to read the requested number of elements because it would cause an underflow.
1133|read|Read|Trying to read 0 items from this buffer
1196|read|Read|A bad argument was provided ( ulOffset ). Not within buffer boundaries.
1316|read|Read|A bad argument was provided ( ulOffset ). Not within buffer boundaries.
1414|write|Write|Couldn't write buffer because the offset to write at it outside of it's boundaries.
)";

// The line of a record code LINE[c|w|b][/SIZE]: the source line its site logs, the element
// type of its buffer or string (default `element`), the size of a refused block.
std::string expectedLine(const std::string& code, char element, bool first) {
    size_t at = 0;
    const uint32_t line = static_cast<uint32_t>(std::stoul(code, &at));
    const char e = at < code.size() && code[at] != '/' ? code[at++] : element;
    const std::string sites = kSites;
    const size_t bar = sites.find('|', sites.find("\n" + std::to_string(line) + "|"));
    std::istringstream site(sites.substr(bar + 1, sites.find('\n', bar) - bar - 1));
    std::string function;
    std::string task;
    std::string message;
    std::getline(std::getline(std::getline(site, function, '|'), task, '|'), message);
    const bool base = line == 54 || line == 239 || line == 321;
    const bool buffer = line >= 450;
    const std::string type = e == 'c'   ? "MultiByte,char"
                             : e == 'w' ? "WChar,wchar_t"
                                        : ",unsigned char";
    const std::string owner = base     ? "CQIRStringBase<class CQIRString" + type + ">"
                              : buffer ? "CQIRBuffer<" + type.substr(type.find(',') + 1) + ">"
                                       : "CQIRStringMultiByte";
    const std::string out = LogCapture::expectedLine(
        line == 1133 ? "WARNING" : "EXCEPTION", owner + "::" + function,
        message + (line == 900 ? " " + code.substr(at + 1) + " )" : ""), task, kLastError,
        buffer ? "qir_buffer.h"
        : base ? "qir_string_base"
               : "qir_string_multibyte",
        line);
    return first ? out : maskCode(out);
}

// Checks an operation against a script "CODES > OUTCOME; CODES > OUTCOME; ...": the records it
// writes (the first with the thread's last error before the run, the later ones masked) and
// the outcome it writes to Out. One row: a plain run, in which the code 0 says that
// nothing is allocated. Several: row n is the run in which the n-th allocation fails, the last
// row the first run in which none does. `make` builds the objects of a run beforehand.
template <class Make, class Op>
void check(const std::string& script, char element, Make make, Op op) {
    std::vector<std::string> rows;
    std::istringstream in(script);
    for (std::string row; std::getline(in >> std::ws, row, ';');) {
        rows.push_back(row);
    }
    for (uint64_t n = 1; n <= rows.size(); ++n) {
        SCOPED_TRACE(rows.size() == 1 ? script : "allocation " + std::to_string(n) + " fails");
        std::istringstream codes(rows[n - 1].substr(0, rows[n - 1].find('>')));
        std::vector<std::string> expected;
        for (std::string code; codes >> code && code != "0";) {
            expected.push_back(expectedLine(code, element, expected.empty()));
        }
        auto objects = make();
        Out out;
        const size_t mark = LogCapture::mark();
        auto failing = std::make_unique<allocseam::Failing>(rows.size() == 1 ? UINT64_MAX : n);
        qir::sys::setLastError(kLastError);
        op(objects, out);
        const bool fired = failing->fired();
        const uint64_t asked = failing->requests();
        failing.reset();
        std::vector<std::string> lines = LogCapture::linesSince(mark);
        for (size_t i = 1; i < lines.size(); ++i) {
            lines[i] = maskCode(lines[i]);
        }
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(fired, n < rows.size()) << "the last row is the first run without a failure";
        EXPECT_TRUE(asked == 0 || rows[n - 1].rfind("0 ", 0) != 0) << "allocations";
        EXPECT_EQ(out.text, rows[n - 1].substr(rows[n - 1].find('>') + 2));
    }
}

// A table row "[X.]OP[:N] [LEFT [RIGHT]] | SCRIPT": the element letter X of the one type the
// row is for, an operation with its count or offset N, operands as parse() reads them
// ("empty" when left out), and a script for check().
struct Row {
    explicit Row(const std::string& text) : script(text.substr(text.find('|') + 1)) {
        std::istringstream(text.substr(0, text.find('|'))) >> op >> left >> right;
        op = op.substr(op[1] == '.' ? 2 : 0);
        const size_t colon = op.find(':');
        n = colon == std::string::npos ? 0 : std::stoul(op.substr(colon + 1), nullptr, 0);
        op = op.substr(0, colon);
    }
    std::string script;
    std::string op;
    std::string left = "empty";
    std::string right = "empty";
    uint32_t n = 0;
};

// The objects of a row: operands l and r of type S, r also as bytes and l as 8-bit elements
// and UTF-16 units, and where operations put what they answer or make. In plain rows the
// string parsers run with errno at ERANGE from an earlier call: they clear it first, and put
// it back when the parse leaves none.
template <class S>
struct Job {
    explicit Job(const Row& from) : row(from) {}
    const Row& row;
    S l = raw<S>(row.left);
    S r = raw<S>(row.right);
    S s;
    Bytes bytes = make<unsigned char>(row.right);
    CQIRBuffer<char> narrow = make<char>(row.left);
    CQIRBuffer<qir_wchar_t> units = make<qir_wchar_t>(row.left);
    int error = row.script.find(';') == std::string::npos ? ERANGE : 0;
    int32_t number = 77;
    double real = 77;
    unsigned char byte = 0xEE;
    uint32_t value = 0xEEEEEEEE;
    uint32_t consumed = 99;
    std::vector<unsigned char> out = std::vector<unsigned char>(48, 0xEE);
    // The right operand, or the left one where the row names "self".
    S& source() { return row.right == "self" ? l : r; }
    const CQIRBuffer<CharOf<S>>& buffer() const { return l; }
    const CQIRSerialObject& serial() const { return l; }
};

// A buffer claiming `count` elements over eight of its own: a count near 2^32 for operations
// that must refuse it before touching an element.
template <class T>
struct Claimed : CQIRBuffer<T> {
    explicit Claimed(uint32_t count) {
        this->m_pBuffer = m_storage;
        this->m_ulSize = count;
    }
    ~Claimed() override { this->m_pBuffer = nullptr; }
    T m_storage[8] = {};
};

// Notes the storage operations that reach it through the virtual table, and can refuse a
// release as a heap other than new and delete could.
template <class T>
struct Spy : CQIRBuffer<T> {
    using B = CQIRBuffer<T>;
    using B::B;
    bool zeroFill() override {
        calls += "z";
        return B::zeroFill();
    }
    bool alloc(uint32_t n) override {
        calls += 'a' + std::to_string(n);
        return B::alloc(n);
    }
    bool destroy() override {
        calls += "d";
        return !refuse && B::destroy();
    }
    bool reAlloc(uint32_t n) override {
        calls += 'r' + std::to_string(n);
        return B::reAlloc(n);
    }
    std::string calls;
    bool refuse = false;
};

// Storage operations of a buffer of three that reach one another through the table, and the
// calls they made: constructors use the class's own alloc.
template <class B>
Out& dispatch(Out& o, const B& two) {
    Spy<CharOf<B>> spy(3);
    o << yes(spy.write(two, 2) && spy.append(B()) && (static_cast<B&>(spy) = two).flush());
    spy.refuse = true;
    o << yes(spy.alloc(5));
    static_cast<B&>(spy += two) = two;
    return o << spy.calls.c_str();
}

// The orderings <= >= < > of two strings, each as 1 or 0.
template <class S>
std::string order(const S& l, const S& r) {
    return std::string() + "01"[l <= r] + "01"[l >= r] + "01"[l < r] + "01"[l > r];
}

template <class S, class Parse>
const char* parsed(Job<S>& j, Parse parse) {
    errno = j.error != 0 ? j.error : errno;
    const bool ok = parse();
    return yes(j.error == 0 || errno == ERANGE ? ok : !ok);
}

// An operation of the rows: runs on a job and writes what it answers, and its target afterwards
// or what it makes.
template <class S>
struct Named {
    const char* name;
    void (*call)(Job<S>& j, Out& o);
};

// The operations on buffers of each element type, by name; the bytes have reads of their own.
// Storage for the outcome is reserved beforehand: a lookup allocates nothing.
template <class S, class T = CharOf<S>, class J = Job<S>>
constexpr Named<S> kBufferOps[] = {
    {"count", [](J& j, Out& o) { o << S(j.row.n); }},
    {"raw", [](J& j, Out& o) { o << S(j.r.getBuffer(), j.row.n); }},
    {"copy", [](J& j, Out& o) { o << S(j.r); }},
    {"plus", [](J& j, Out& o) { o << j.l + j.r; }},
    {"assign", [](J& j, Out& o) { o << (j.l = j.source()); }},
    {"alloc", [](J& j, Out& o) { o << yes(j.l.alloc(j.row.n)) << j.l; }},
    {"reAlloc", [](J& j, Out& o) { o << yes(j.l.reAlloc(j.row.n)) << j.l; }},
    {"zeroFill", [](J& j, Out& o) { o << yes(j.l.zeroFill()) << j.l; }},
    {"flush", [](J& j, Out& o) { o << yes(j.l.flush()) << j.l; }},
    {"write", [](J& j, Out& o) { o << yes(j.l.write(j.source(), j.row.n)) << j.l; }},
    {"claimed", [](J& j, Out& o) { o << yes(j.l.write(Claimed<T>(j.row.n), 5)) << j.l; }},
    {"append", [](J& j, Out& o) { o << yes(j.l.append(j.source())) << j.l; }},
    {"add", [](J& j, Out& o) { o << (j.l += j.source()); }},
    // By name: one of the two is the conversion to the buffer's own type.
    {"toChar", [](J& j, Out& o) { o << j.l.operator CQIRBuffer<char>(); }},
    {"toWide", [](J& j, Out& o) { o << j.l.operator CQIRBuffer<qir_wchar_t>(); }},
    {"dispatch", [](J& j, Out& o) { dispatch(o, j.r); }},
};

using ByteJob = Job<Bytes>;
constexpr Named<Bytes> kByteOps[] = {
    {"byte", [](ByteJob& j, Out& o) { (o << yes(j.l.read(j.byte, j.row.n))).write(&j.byte, 1); }},
    {"value",
     [](ByteJob& j, Out& o) {
         const auto* bytes = reinterpret_cast<unsigned char*>(&j.value);
         (o << yes(j.l.read(j.value, j.row.n))).write(bytes, 4);
     }},
    {"block", [](ByteJob& j, Out& o) { o << yes(j.l.read(j.r, j.row.n)) << j.r; }},
};

// The operations on CQIRStringMultiByte and CQIRStringWChar, by name. Buffer conversions go
// through the buffer's table.
template <class S, class J = Job<S>>
constexpr Named<S> kStringOps[] = {
    {"from", [](J& j, Out& o) { o << S(j.buffer()); }},
    {"from8", [](J& j, Out& o) { o << S(j.narrow); }},
    {"text", [](J& j, Out& o) { o << Wide(j.narrow.getBuffer()); }},
    {"number", [](J& j, Out& o) { o << Wide(std::stoi(j.row.left), uint16_t(j.row.n)); }},
    {"self=", [](J& j, Out& o) { o << (j.l = *&j.l); }},
    {"plus", [](J& j, Out& o) { o << j.l + j.r; }},
    {"order", [](J& j, Out& o) { o << order(j.l, j.r).c_str(); }},
    {"nocase", [](J& j, Out& o) { o << yes(j.l.equalsNoCase(j.r)); }},
    {"length", [](J& j, Out& o) { o << j.l.length(); }},
    {"toLong",
     [](J& j, Out& o) {
         o << parsed(j, [&] { return j.l.toLong(j.number, uint8_t(j.row.n)); }) << j.number;
     }},
    {"toDouble",
     [](J& j, Out& o) { o << parsed(j, [&] { return j.l.toDouble(j.real); }) << j.real; }},
    {"upper", [](J& j, Out& o) { o << yes(j.l.toUpper()) << j.l; }},
    {"lower", [](J& j, Out& o) { o << yes(j.l.toLower()) << j.l; }},
    {"units", [](J& j, Out& o) { o << j.buffer().operator CQIRBuffer<qir_wchar_t>(); }},
    {"bytes", [](J& j, Out& o) { o << j.buffer().operator CQIRBuffer<char>(); }},
    {"serialize", [](J& j, Out& o) { o << j.serial().serialize(); }},
    {"form", [](J& j, Out& o) { o << j.serial().operator Bytes(); }},
    {"size", [](J& j, Out& o) { o << j.serial().serializedSize(); }},
    {"read", [](J& j, Out& o) { o << yes(j.l.deserialize(j.bytes)) << j.l << j.bytes; }},
};

// The operations on log strings of either width, by name.
template <class S, class J = Job<S>>
constexpr Named<S> kLogStringOps[] = {
    {"plus", [](J& j, Out& o) { o << (j.s = j.l + j.r); }},
    {"add", [](J& j, Out& o) { o << (j.l += j.source()); }},
    {"assign", [](J& j, Out& o) { o << (j.l = j.source()); }},
    // l moved through s into r, which has storage of its own, and r into itself; then r at the
    // same size.
    {"move",
     [](J& j, Out& o) {
         j.s = S(std::move(j.l));
         j.r = std::move(j.s);
         j.r = std::move(*&j.r);
         o << yes(j.r.resize(4)) << j.l << j.s << j.r;
     }},
    {"front", [](J& j, Out& o) { o << (j.s = j.l << j.row.n); }},
    {"back", [](J& j, Out& o) { o << (j.s = j.l >> j.row.n); }},
    {"equal", [](J& j, Out& o) { o << yes(j.l == j.r) << yes(j.l != j.r); }},
    {"contains", [](J& j, Out& o) { o << yes(j.l.contains(j.r)); }},
    {"toLong", [](J& j, Out& o) { o << j.l.toLong(); }},
    {"write",
     [](J& j, Out& o) {
         (o << yes(j.l.serialize(j.out.data(), j.row.n))).write(j.out.data(), j.row.n + 2);
     }},
    {"size", [](J& j, Out& o) { o << j.l.serializedSize(); }},
    {"writeNull", [](J& j, Out& o) { o << yes(j.l.serialize(nullptr, j.row.n)); }},
    {"readNull",
     [](J& j, Out& o) { o << yes(j.l.deserialize(nullptr, j.row.n, j.consumed)) << j.consumed; }},
    {"read",
     [](J& j, Out& o) {
         const uint32_t size = j.row.n != 0 ? j.row.n : j.bytes.getSize();
         o << yes(j.l.deserialize(j.bytes.getBuffer(), size, j.consumed)) << j.l << j.consumed;
     }},
    {"number", [](J& j, Out& o) { o << LogWide(j.row.n, 10); }},
    {"text", [](J& j, Out& o) { o << (j.s = S(j.narrow.getBuffer())); }},
    {"units", [](J& j, Out& o) { o << (j.s = S(j.units.getBuffer())); }},
};

// Runs the job's operation, found by its name in the tables for S, or tells that there is none.
template <class S>
void act(Job<S>& j, Out& o) {
    bool found = false;
    const auto call = [&](const auto& table) {
        for (const Named<S>& op : table) {
            if (!found && j.row.op == op.name) {
                op.call(j, o);
                found = true;
            }
        }
    };
    if constexpr (std::is_same_v<S, Bytes>) {
        call(kByteOps);
    }
    if constexpr (std::is_same_v<S, CQIRBuffer<CharOf<S>>>) {
        call(kBufferOps<S>);
    } else if constexpr (std::is_base_of_v<CQIRSerialObject, S>) {
        call(kStringOps<S>);
    } else {
        call(kLogStringOps<S>);
    }
    if (!found) {
        o << "no such operation";
    }
}

// Runs a row for each of the types S whose element letter it names, or for each.
template <class... S>
void run(const std::string& text) {
    const Row r(text);
    const auto one = [&](auto tag) {
        using T = decltype(tag);
        if (text[1] != '.' || text[0] == kLetter<CharOf<T>>) {
            check(
                r.script, kLetter<CharOf<T>>, [&] { return Job<T>(r); },
                [&](Job<T>& j, Out& o) { act(j, o); });
        }
    };
    (one(S()), ...);
}

class BufferTest : public testing::TestWithParam<std::string> {};
class StringTest : public testing::TestWithParam<std::string> {};
class LogStringTest : public testing::TestWithParam<std::string> {};

TEST_P(BufferTest, WritesTheOutcomeAndReportsOfItsScript) {
    run<CQIRBuffer<char>, CQIRBuffer<qir_wchar_t>, Bytes>(GetParam());
}

TEST_P(StringTest, WritesTheOutcomeAndReportsOfItsScript) {
    run<Narrow, Wide>(GetParam());
}

TEST_P(LogStringTest, WritesTheOutcomeOfItsScript) {
    run<LogNarrow, LogWide>(GetParam());
}

// Rows as Row and check() read them. A worked row:
//   "reAlloc:5 abc | 900/3 507 > false abc; 900/5 > false empty; > true abc~~"
// calls reAlloc(5) on a buffer holding "abc", for each element type. When the first allocation
// fails (the copy of the old elements), the reports of source lines 900 (a block of 3 refused)
// and 507 are logged, reAlloc answers false and the buffer still holds "abc"; when the second
// fails (the new storage), line 900 for 5, false, and the buffer is empty; when none fails, true
// and "abc" with two zeros after it.
INSTANTIATE_TEST_SUITE_P(
    Rows, BufferTest,
    testing::Values(
        "count | > empty", "count:3 | 900/3 450 > empty; > ~~~", "raw:5 x | > empty",
        "raw:3 x abc | 900/3 472 > empty; > abc", "copy x | > empty",
        "copy x abc | 900/3 507 > empty; > abc", "assign def self | > def",
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
        "write abcd self | > true abcd", "write:2 abcd self | > true ababcd",
        "append efg self | > true efgefg", "add hi self | > hihi", "append empty ab | > true ab",
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
        "w.toWide <d83d><1> | 900/2 472 > empty; 900/2 507 > empty; > <d83d><1>",
        "b.toChar a<80> | > a<80>",
        // Refused releases are reported.
        "dispatch x ab | 919 919 561 919 507 > true false r4a4dzza2dzzdza5dr2a2da2d"));

const char* const kTwo = "zz~ <1><3>~~~ab~<1><3>~~~cd~";
const std::string kKept = "false " + std::string(kTwo);
const std::string kRead = "true ab~ <1><3>~~~cd~";

// Rows as for buffers, run for CQIRStringMultiByte and CQIRStringWChar. A worked row:
//   "toLong:10 2147483648~ | > false 2147483647"
// calls toLong with radix 10 on the text "2147483648" and its zero, in both string types: in
// one plain run, which logs nothing, toLong answers false and gives the number 2147483647.
INSTANTIATE_TEST_SUITE_P(
    Rows, StringTest,
    testing::Values(
        // Text up to the first zero, then one zero; no storage when empty.
        "from ~a | > empty", "from ab | > ab~", "from a~bc | > a~", "from8 ~a | > empty",
        "from8 a~bc | > a~", "w.text a_b<9>c~ | > a_b<9>c~", "w.text ~ | > empty",
        "w.text | > empty",
        // The text up to its first zero and the terminator, in one allocation.
        "c.from ab~x | 900/3 > empty; > ab~", "w.text abc~ | 900/4 > empty; > abc~",
        "w.from8 ab | 900c/3 450c > empty; 900/3 > empty; > ab~",
        // Radix 10 signed, the others the 32-bit pattern unsigned; no radix outside 2 to 36.
        "w.number:10 0 | > 0~", "w.number:10 -2147483648 | > -2147483648~",
        "w.number:2 -1 | > 11111111111111111111111111111111~", "w.number:8 -8 | > 37777777770~",
        "w.number:36 35 | > z~", "w.number:1 5 | > empty", "w.number:37 5 | > empty",
        // The digits stay in their 33 elements when trimming them fails, or go with them.
        "w.number:16 255 | 900/33 > empty; 900/33 507 > ff~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~; 900/3 > "
        "empty; > ff~",
        "self= a~b | > a~b",
        // The right operand as it is, over the left one's first zero.
        "plus empty de~ | > de~", "plus a~x~ d~ | > ad~", "plus ~x d~ | > d~",
        "plus a~ d~e | > ad~e",
        // The working copy of the left operand failing, only the right one arrives.
        "w.plus abc~ de~ | 900/4 > de~; 900/4 507 54 > abc~; 900/6 54 > empty; > abcde~",
        // <= >= < >: the texts over the shorter count as unsigned elements, then the counts.
        "order abc~ abc~ | > 1100", "order ab~ abc~ | > 1010", "order abc~ ab~ | > 0100",
        "order b~ ab~ | > 0001", "order ab~ b~ | > 0000", "order ba~ a~ | > 0100",
        "order abd~ abc~ | > 0101", "order abc~ abd~ | > 1010", "order abc~ b~ | > 0000",
        "order empty a~ | > 0000", "order a~ | > 0000", "order | > 1100", "order <e9>~ e~ | > 0101",
        "order a~x a~y | > 1100", "order 7ab 7a | > 0100", "nocase aBc1~ AbC1~ | > true",
        "nocase abc~ abcd~ | > false", "nocase abc~ abd~ | > false", "nocase | > true",
        "nocase Ab aB | > true", "length a~b~ | > 1", "length | > 0", "length ab | > 2",
        // A 32-bit strtol: the nearest limit and false where it sets ERANGE.
        "toLong:10 __-42x~ | > true -42", "toLong:0 0x1F~ | > true 31", "toLong:36 z~ | > true 35",
        "toLong:10 2147483647~ | > true 2147483647", "toLong:10 2147483648~ | > false 2147483647",
        "toLong:10 -2147483648~ | > true -2147483648",
        "toLong:10 -2147483649~ | > false -2147483648",
        "toLong:10 -99999999999999999999~ | > false -2147483648", "toLong:10 | > false 77",
        "toLong:1 1~ | > false 77", "toLong:37 1~ | > false 77",
        // Storage without a zero of its own is parsed from a terminated copy, or not at all.
        "toLong:16 7ab | 900/4 > false 77; > true 1963", "toDouble _-2.5e3x~ | > true -2500",
        "toDouble 1e999~ | > false inf", "toDouble | > false 77",
        "toDouble 42 | 900/3 > false 77; > true 42",
        // ASCII letters before the last element.
        "upper Mixed_Case_1z~ | > true MIXED_CASE_1Z~",
        "lower Mixed_Case_1z~ | > true mixed_case_1z~", "upper ab | > true Ab",
        "lower | > false empty", "lower <c9>E<e9>e<df>~ | > true <c9>e<e9>e<df>~",
        "upper <c9>E<e9>e<df>~ | > true <c9>E<e9>E<df>~", "units | > empty", "bytes | > empty",
        "c.units abc~ | 900w/4 450w 364 > empty; > abc~",
        "w.bytes abc~ | 900c/4 450c > empty; > abc~",
        "w.bytes abc | 900c/3 450c > empty; 900w/4 > ~~~; > abc",
        // A character without an 8-bit form: the bytes before it, then zeros.
        "w.bytes ab<100>c~ | > ab~~~", "size abc~ | > 9", "size | > 5", "form | > <1>~~~~",
        "serialize 7ab | > <1><3>~~~7ab", "w.serialize a<100>b~ | > <1><4>~~~a~~~",
        // A form of the wrong size is emptied: reported by the 8-bit class and by the conversion.
        "c.serialize abc~ | 900b/9 450b 421 > empty; 900b/9 507b 421 > empty; > <1><4>~~~abc~",
        "c.form abc~ | 900b/9 450b 421 239 > empty; 900b/9 507b 421 239 > empty; > <1><4>~~~abc~",
        "w.serialize abc~ | 900c/4 450c > empty; 900b/9 450b > empty; 900b/9 507b > empty; > "
        "<1><4>~~~abc~",
        "w.form abc~ | 900c/4 450c 239 > empty; 900b/9 450b 239 > empty; 900b/9 507b 239 > empty; "
        "> <1><4>~~~abc~",
        // Read from the front of the bytes, or nothing changes.
        "read zz~ <1><2>~~~z~<9> | > true z~ <9>", "read zz~ <1>~~~~ | > true empty empty",
        "read zz~ <1><1>~~~~ | > true empty empty", "read zz~ <1><4>~~~a~b~ | > true a~ empty",
        "read zz~ <1><2>~~~ab | > true ab~ empty", "read zz~ | > true empty empty",
        "read zz~ <2><4>~~~abc~ | 321 > false zz~ <2><4>~~~abc~",
        "read zz~ ~~~~~ | 321 > false zz~ ~~~~~",
        "read zz~ <1><5>~~~abc~ | 0 > false zz~ <1><5>~~~abc~",
        "read zz~ <1><ff><ff><ff><ff>abc~ | 0 > false zz~ <1><ff><ff><ff><ff>abc~",
        "read zz~ <1><fb><ff><ff><ff>abc~ | 0 > false zz~ <1><fb><ff><ff><ff>abc~",
        "read zz~ <1><4>~ | 1316b > false zz~ <1><4>~", "read zz~ <1> | 1316b > false zz~ <1>",
        // Every failure in a read leaves the string and the bytes as they were.
        "c.read " + std::string(kTwo) + " | 900/3 > " + kKept + "; 900b/8 450b > " + kKept +
            "; > " + kRead,
        "w.read " + std::string(kTwo) + " | 900/3 > " + kKept + "; 900b/8 450b > " + kKept +
            "; > " + kRead));

// Rows as for buffers, run for log strings of both widths, which log nothing. A worked row:
//   "write:8 ab~ | > true <1><3>~~~ab~<ee><ee>"
// writes the log string "ab" into 8 bytes of storage holding EE: write answers true, and the
// storage holds format 1, the length 3 in four bytes, "ab" and its zero, the two bytes after
// the 8 still EE.
INSTANTIATE_TEST_SUITE_P(
    Rows, LogStringTest,
    testing::Values(
        // A failed allocation leaves the string empty; the working copy failing, only the right
        // operand arrives.
        "plus abc~ de~ | > de~; > empty; > abcde~", "plus abc~ | > empty; > abc~",
        "plus empty de~ | > empty; > de~", "plus | > empty", "add ab~ cd~xy | > empty; > abcd~",
        "add ab~ self | > empty; > abab~", "assign abc~ xyz1~ | > empty; > xyz1~",
        "assign abc~ self | > abc~", "front abc~ | > empty; > abc~",
        "front:2 abc~ | > empty; > empty; > c~", "back:2 abc~ | > empty; > empty; > a~",
        "front:3 abc~ | > empty; > empty", "back:9 abc~ | > empty; > empty", "back:1 | > empty",
        // Moves hand the storage over, and the same size keeps it: nothing from the heap.
        "move abc~ xyz~ | 0 > true empty empty abc~", "equal abc~ abc~ | > true false",
        "equal abc~ abd~ | > false true", "equal abc~ ab~ | > false true", "equal | > true false",
        "equal empty a~ | > false true", "equal a~x a~y | > true false",
        "equal ab~x abc~ | > false true", "contains abc~ b~ | > true",
        "contains abc~ abc~ | > true", "contains abc~ bc~ | > true",
        "contains abc~ abcd~ | > false", "contains abc~ ac~ | > false", "contains abc~ | > false",
        "contains empty a~ | > false",
        // Decimal, saturating as a 32-bit strtol does.
        "toLong _-17z~ | > -17", "toLong +8~ | > 8", "toLong x~ | > 0", "toLong | > 0",
        "toLong 2147483647~ | > 2147483647", "toLong 2147483648~ | > 2147483647",
        "toLong -2147483648~ | > -2147483648", "toLong -99999999999~ | > -2147483648",
        // The value as a signed 32-bit decimal number.
        "w.number:1234 | > empty; > empty; > 1234~", "w.number:0 | > 0~",
        "w.number:0xffffffff | > -1~", "w.number:0x7fffffff | > 2147483647~",
        "w.number:0x80000000 | > -2147483648~",
        // 8-bit text, or UTF-16 units, converted in the locale ("C" here).
        "text abc~ | > empty; > abc~", "units abc~ | > empty; > abc~", "text | > empty",
        "text ~ | > empty", "units | > empty",
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
        "c.read keep~ <1><4>~~~a~b~ | > true a~+2 9",
        "w.read keep~ <1><4>~~~a~b~ | > false keep~ 99; > true a~ 9",
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

// A locale in which one character takes several bytes: a character of two bytes and its unit,
// a text with its units, and bytes and units the locale rejects.
class LocaleTest : public testing::Test {
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
    const std::string bytes = "a" + character + (utf8 ? "<f0><9f><98><80>" : "");
    const std::string units = "a" + unit + (utf8 ? "<d83d><de00>~" : "~");
    const std::string invalid = utf8 ? "a<ff>~" : "a<82>~";
};

TEST_F(LocaleTest, EachWidthTakesTheOthersTextWhereItFitsAndLogStringsWriteTheBytesOfTheirForm) {
    // 8-bit text of fewer characters than bytes gives its units, and is reported.
    run<Narrow>("units " + character + "b~ | 359 > " + unit + "b~~");
    // A UTF-16 string takes one unit for every byte, or nothing; its bytes stop at its count.
    run<Wide>("text " + character + "b~ | > empty");
    run<Wide>("text " + invalid + " | > empty");
    run<Wide>("bytes " + unit + "b~ | > " + character + "b");
    // Text that does not convert is reported with the conversion's own error code.
    const size_t mark = LogCapture::mark();
    const CQIRBuffer<qir_wchar_t> converted(raw<Narrow>(invalid));
    std::vector<std::string> lines = LogCapture::linesSince(mark);
    lines[0] = maskCode(lines.at(0));
    EXPECT_EQ(lines, std::vector<std::string>{expectedLine("359", 'c', false)});
    // Log strings: storage of one unit for every byte, and of MB_CUR_MAX bytes for every unit.
    const size_t byteCount = parse(bytes).size();
    const size_t unitCount = parse(units).size();
    run<LogWide>("text " + bytes + "~ | > " + units + "+" +
                 std::to_string(byteCount + 1 - unitCount));
    run<LogNarrow>("units " + units + " | > " + bytes + "~+" +
                   std::to_string(unitCount * MB_CUR_MAX - byteCount - 1));
    run<LogWide>("text " + invalid + " | > empty");
    run<LogNarrow>(std::string("units ") + (utf8 ? "a<d800>~" : "a<e01>~") + " | > empty");
    // Either width writes the text's bytes and its zero after the header; they read back.
    const std::string size = std::to_string(byteCount + 6);
    const std::string form = "<1><" + std::to_string(byteCount + 1) + ">~~~" + bytes + "~";
    run<LogWide>("write:" + size + " " + units + " | > true " + form + "<ee><ee>");
    run<LogNarrow>("write:" + size + " " + bytes + "~ | > true " + form + "<ee><ee>");
    run<LogWide>("read keep~ " + form + "<ee> | > true " + units + "+" +
                 std::to_string(byteCount + 1 - unitCount) + " " + size);
}

}  // namespace
