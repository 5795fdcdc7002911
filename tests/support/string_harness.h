// What the buffer, string and log-string suites share: elements written as text, table rows,
// the log lines that the reports of buffers and strings write (composed from short codes and
// read back from the file that LogCapture configured) and allocation-failure sweeps.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "alloc_seam.h"
#include "log_capture.h"
#include "qir_buffer.h"
#include "qir_sys/error.h"

namespace harness {

// Elements as text: printable ASCII as itself, '~' a zero, '_' a blank, <hex> any other value,
// "empty" no storage at all.
inline std::vector<uint32_t> parse(const std::string& text) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < text.size() && text != "empty"; ++i) {
        const size_t close = text[i] == '<' ? text.find('>', i) : i;
        out.push_back(text[i] == '~'   ? 0
                      : text[i] == '_' ? ' '
                                       : static_cast<unsigned char>(text[i]));
        out.back() =
            close == i ? out.back() : std::stoul(text.substr(i + 1, close - i - 1), nullptr, 16);
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

inline const char* yes(bool value) {
    return value ? "true" : "false";
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
            char item[16] = {static_cast<char>(v == 0 ? '~' : v == ' ' ? '_' : v)};
            if (v > 0 && v != ' ' && (v < ' ' || v > 126 || v == '<' || v == '~' || v == '_')) {
                std::snprintf(item, sizeof item, "<%x>", v);
            }
            text += item;
        }
        char rest[16] = "";
        std::snprintf(rest, more != 0 ? sizeof rest : 0, "+%u", more);
        text += rest;
        return *this;
    }
    template <class T>
    Out& operator<<(const CQIRBuffer<T>& buffer) {
        return write(buffer.getBuffer(), buffer.getSize());
    }
};

// 'c', 'w' or 'b': the element type of a buffer or string, in record codes and rows.
template <class T>
constexpr char letter() {
    return std::is_same_v<T, char> ? 'c' : std::is_same_v<T, unsigned char> ? 'b' : 'w';
}

// A table row "[X.]OP[:N] [LEFT [RIGHT]] | SCRIPT": the element letter X of the one type the
// row is for, an operation with its count or offset N, operands as parse() reads them
// ("empty" when left out), and a script for check().
struct Row {
    std::string op, left = "empty", right = "empty", script;
    char only = 0;
    uint32_t n = 0;
    bool plain() const { return script.find(';') == std::string::npos; }
};

inline Row row(const std::string& text) {
    Row r;
    std::istringstream(text.substr(0, text.find('|'))) >> r.op >> r.left >> r.right;
    r.script = text.substr(text.find('|') + 1);
    r.only = r.op[1] == '.' ? r.op[0] : 0;
    r.op = r.op.substr(r.only != 0 ? 2 : 0);
    r.n = r.op.find(':') == std::string::npos
              ? 0
              : std::stoul(r.op.substr(r.op.find(':') + 1), nullptr, 0);
    r.op = r.op.substr(0, r.op.find(':'));
    return r;
}

// Runs f(tag) for each type whose element letter the row names, or for each.
template <class... T, class F>
void forEachType(const std::string& text, F f) {
    (void(text[1] != '.' ||
              text[0] ==
                  letter<std::remove_cv_t<std::remove_pointer_t<decltype(T().getBuffer())>>>()
          ? f(T()),
          0 : 0),
     ...);
}

// --- report lines ---

// The thread's last-error value before a run: the first record of a run carries it. The later
// ones carry whatever writing the earlier ones left, shown as CODE in read and expected lines.
constexpr uint32_t kLastError = 0x4D2;

inline std::string maskCode(const std::string& line) {
    const size_t at = line.find("<Return Code: ") + 14;
    return at < 14 ? line : line.substr(0, at) + "CODE" + line.substr(line.find('>', at));
}

// The line of a record code LINE[c|w|b][/SIZE]: the source line its site logs, the element
// type of its buffer or string (default `element`), the size of a refused block.
inline std::string expectedLine(const std::string& code, char element, bool first) {
    static const char* const kOffset =
        "A bad argument was provided ( ulOffset ). Not within buffer boundaries.";
    static const char* const kSize = "Serialized size does not match expected";
    static const char* const kWide = "operator class CQIRBuffer<wchar_t>";
    static const char* const kMade = "Unable to allocate memory for construction";
    // function, task, message
    static const std::map<uint32_t, std::vector<std::string>> sites = {
        {54,
         {"operator +", "Operator+", "Unable to append the string because the write call failed."}},
        {74, {"CQIRStringMultiByte", "Construction", "Unable to re-allocate memory"}},
        {239, {"operator class CQIRBuffer<unsigned char>", "OperatorByteBuffer", kSize}},
        {321, {"deserialize", "Deserialize", "Unsupported serialized string format"}},
        {359, {kWide, "CastWCHAR", "Unable to convert multibyte string into wide char string"}},
        {364, {kWide, "CastWCHAR", "Unable to create buffer to hold wchar string"}},
        {421, {"serialize", "Serialize", kSize}},
        {450, {"CQIRBuffer", "Construction", kMade}},
        {472, {"CQIRBuffer", "Construction", kMade}},
        {507, {"operator =", "Assignment", "Unable to allocate memory for assignment"}},
        {561, {"operator +=", "Operator+=", "Unable to append buffer"}},
        {737, {kWide, "CastWChar", "Unable to allocate memory for conversion"}},
        {900, {"alloc", "GenericAlloc", "Unable to allocate memory ( m_pBuffer ) of size ( "}},
        {919, {"alloc", "MemoryAllocation", "Unable to free memory before allocation"}},
        {1128,
         {"read", "Read",
          "Unable to read the requested number of elements because it would cause an underflow."}},
        {1133, {"read", "Read", "Trying to read 0 items from this buffer"}},
        {1196, {"read", "Read", kOffset}},
        {1316, {"read", "Read", kOffset}},
        {1414,
         {"write", "Write",
          "Couldn't write buffer because the offset to write at it outside of it's boundaries."}},
    };
    size_t at = 0;
    const uint32_t line = static_cast<uint32_t>(std::stoul(code, &at));
    const char e = at < code.size() && code[at] != '/' ? code[at++] : element;
    const std::vector<std::string>& site = sites.at(line);
    const bool base = line == 54 || line == 239 || line == 321;
    const std::string function =
        base ? std::string("CQIRStringBase<class ") +
                   (e == 'c' ? "CQIRStringMultiByte,char>::" : "CQIRStringWChar,wchar_t>::")
        : line < 450 ? "CQIRStringMultiByte::"
                     : std::string("CQIRBuffer<") +
                           (e == 'c'   ? "char"
                            : e == 'w' ? "wchar_t"
                                       : "unsigned char") +
                           ">::";
    const std::string file = line >= 450 ? "qir_buffer.h"
                             : base      ? "qir_string_base"
                                         : "qir_string_multibyte";
    const std::string message = site[2] + (line == 900 ? code.substr(at + 1) + " )" : "");
    const std::string out =
        LogCapture::expectedLine(line == 1133 ? "WARNING" : "EXCEPTION", function + site[0],
                                 message, site[1], kLastError, file, line);
    return first ? out : maskCode(out);
}

// Runs `op` with the n-th allocation of this thread failing (n = 0: none), and answers the
// lines it appended to the log; `fired` tells whether an allocation was refused.
template <class Op>
std::vector<std::string> reports(Op op, uint64_t n = 0, bool* fired = nullptr) {
    const size_t mark = LogCapture::text().size();
    qir::sys::setLastError(kLastError);
    if (n == 0) {
        op();
    } else {
        allocseam::Failing failing(n);
        op();
        *fired = failing.fired();
    }
    std::vector<std::string> lines = LogCapture::linesSince(mark);
    for (size_t i = 1; i < lines.size(); ++i) {
        lines[i] = maskCode(lines[i]);
    }
    return lines;
}

// Checks an operation against a script "CODES > OUTCOME; CODES > OUTCOME; ...": the records it
// writes and the outcome it writes to Out. One row: a plain run, in which the code 0 says that
// nothing is allocated. Several: row n is the run in which the n-th allocation fails, the last
// row the first run in which none does. `make` builds the objects of a run beforehand.
template <class Make, class Op>
void check(const std::string& script, char element, Make make, Op op) {
    std::vector<std::string> rows;
    std::istringstream in(script);
    for (std::string row; std::getline(in, row, ';');) {
        rows.push_back(row.substr(row.find_first_not_of(' '),
                                  row.find_last_not_of(' ') + 1 - row.find_first_not_of(' ')));
    }
    for (uint64_t n = 1; n <= rows.size(); ++n) {
        SCOPED_TRACE(rows.size() == 1 ? script : "allocation " + std::to_string(n) + " fails");
        std::istringstream codes(rows[n - 1].substr(0, rows[n - 1].find('>')));
        std::vector<std::string> expected;
        bool none = false;
        for (std::string code; codes >> code;) {
            none = none || code == "0";
            code == "0" ? void()
                        : expected.push_back(expectedLine(code, element, expected.empty()));
        }
        auto objects = make();
        Out out;
        bool fired = false;
        uint64_t allocations = 0;
        const auto run = [&] {
            std::optional<allocseam::Counting> counting;
            none ? void(counting.emplace()) : void();
            op(objects, out);
            allocations = none ? counting->requests() : 0;
        };
        EXPECT_EQ(reports(run, rows.size() == 1 ? 0 : n, &fired), expected);
        EXPECT_EQ(allocations, 0u);
        EXPECT_EQ(fired, n < rows.size()) << "the last row is the first run without a failure";
        EXPECT_EQ(out.text, rows[n - 1].substr(rows[n - 1].find('>') + 2));
    }
}

}  // namespace harness
