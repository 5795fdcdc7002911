// The string classes when the heap refuses a block: each allocation of each allocating
// constructor and operation fails in turn; the records in the log file come in the described
// order and every run leaves a valid string (empty, or as the table says).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alloc_sweep.h"
#include "buffer_values.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"
#include "record_lines.h"
#include "string_values.h"

namespace {

using records::Record;
using strvals::show;
using strvals::text;
using sweep::Row;
using sweep::Slot;

const std::string kChar = "char";
const std::string kWide = "wchar_t";
const std::string kByte = "unsigned char";

Record alloc(const std::string& e, uint32_t size) {
    return records::allocFailed(e, size);
}
Record assign(const std::string& e) {
    return records::assignmentFailed(e);
}
Record counted(const std::string& e) {
    return records::countConstructionFailed(e);
}
Record raw(const std::string& e) {
    return records::rawConstructionFailed(e);
}
Record appended(const std::string& e) {
    return records::appendFailed(e);
}
Record trimFailed() {
    return records::stringRecord("CQIRStringMultiByte::CQIRStringMultiByte",
                                 "Unable to re-allocate memory", "Construction",
                                 "qir_string_multibyte", 74);
}
Record joinFailed() {
    return records::stringRecord("CQIRStringBase<class CQIRStringWChar,wchar_t>::operator +",
                                 "Unable to append the string because the write call failed.",
                                 "Operator+", "qir_string_base", 54);
}
Record serializeMismatch() {
    return records::stringRecord("CQIRStringMultiByte::serialize",
                                 "Serialized size does not match expected", "Serialize",
                                 "qir_string_multibyte", 421);
}
Record formMismatch(const std::string& base) {
    return records::stringRecord(base + "::operator class CQIRBuffer<unsigned char>",
                                 "Serialized size does not match expected", "OperatorByteBuffer",
                                 "qir_string_base", 239);
}
Record castRecord(const std::string& message, uint32_t line) {
    return records::stringRecord("CQIRStringMultiByte::operator class CQIRBuffer<wchar_t>", message,
                                 "CastWCHAR", "qir_string_multibyte", line);
}

// Objects of one run: an input and a place for what the operation builds.
template <class InT, class OutT>
struct Job {
    using In = InT;
    using Out = OutT;
    In in;
    Slot<Out> out{};
};

template <class In, class Out>
std::string showOut(const Job<In, Out>& r) {
    return r.out.built() ? text(r.out.get()) : "nothing";
}

TEST(StringAllocationSweepTest, MultiByteFromElements) {
    using R = Job<CQIRBuffer<char>, CQIRStringMultiByte>;
    sweep::expect(
        [] {
            return R{bufvals::make<char>({'a', 'b', 0, 'x'})};
        },
        [](R& r) { r.out.build([&] { return CQIRStringMultiByte(r.in); }); },
        showOut<R::In, R::Out>,
        {Row{{alloc(kChar, 4), assign(kChar)}, "/0"},   // the copy of the elements
         Row{{alloc(kChar, 1), counted(kChar)}, "/0"},  // the terminator to append
         Row{{alloc(kChar, 4), assign(kChar)}, "/0"},   // appending it: the old elements
         Row{{alloc(kChar, 5)}, "/0"},                  // appending it: the new storage
         // cutting after the first zero: the text stays, uncut
         Row{{alloc(kChar, 5), assign(kChar), trimFailed()}, "ab/5"},
         Row{{alloc(kChar, 3), trimFailed()}, "/0"}},
        "ab/3");
}

TEST(StringAllocationSweepTest, WideFromText) {
    using R = Job<int, CQIRStringWChar>;
    sweep::expect([] { return R{0}; },
                  [](R& r) { r.out.build([] { return CQIRStringWChar("abc"); }); },
                  showOut<R::In, R::Out>, {Row{{alloc(kWide, 4)}, "/0"}}, "abc/4");
}

TEST(StringAllocationSweepTest, WideFromEightBitElements) {
    using R = Job<CQIRBuffer<char>, CQIRStringWChar>;
    sweep::expect(
        [] {
            return R{bufvals::make<char>({'a', 'b'})};
        },
        [](R& r) { r.out.build([&] { return CQIRStringWChar(r.in); }); }, showOut<R::In, R::Out>,
        {Row{{alloc(kChar, 1), counted(kChar)}, "/0"},  // the terminator
         Row{{alloc(kChar, 2), assign(kChar)}, "/0"},   // the sum's working copy
         Row{{alloc(kChar, 2), assign(kChar), appended(kChar)}, "/0"},
         Row{{alloc(kChar, 3), appended(kChar)}, "/0"},
         Row{{alloc(kWide, 3)}, "/0"},                  // the converted text
         Row{{alloc(kWide, 3), assign(kWide)}, "/0"}},  // this string
        "ab/3");
}

TEST(StringAllocationSweepTest, WideFromANumber) {
    using R = Job<int, CQIRStringWChar>;
    sweep::expect([] { return R{0}; },
                  [](R& r) { r.out.build([] { return CQIRStringWChar(255, 16); }); },
                  showOut<R::In, R::Out>,
                  {Row{{alloc(kWide, 33)}, "/0"},
                   // trimming: the digits stay in their 33 elements, or are lost with them
                   Row{{alloc(kWide, 33), assign(kWide)}, "ff/33"}, Row{{alloc(kWide, 3)}, "/0"}},
                  "ff/3");
}

TEST(StringAllocationSweepTest, WideJoin) {
    struct Operands {
        CQIRStringWChar left;
        CQIRStringWChar right;
    };
    using R = Job<Operands, CQIRStringWChar>;
    sweep::expect(
        [] {
            return R{{CQIRStringWChar("abc"), CQIRStringWChar("de")}};
        },
        [](R& r) { r.out.build([&] { return r.in.left + r.in.right; }); }, showOut<R::In, R::Out>,
        {// the working string of the left operand: only the right one arrives
         Row{{alloc(kWide, 4), assign(kWide)}, "de/3"},
         Row{{alloc(kWide, 1), counted(kWide)}, "de/3"},
         Row{{alloc(kWide, 4), assign(kWide)}, "de/3"}, Row{{alloc(kWide, 5)}, "de/3"},
         // cutting the working string: the right operand still lands after the text
         Row{{alloc(kWide, 5), assign(kWide)}, "abcde/6"}, Row{{alloc(kWide, 4)}, "de/3"},
         // writing the right operand
         Row{{alloc(kWide, 4), assign(kWide), joinFailed()}, "abc/4"},
         Row{{alloc(kWide, 6), joinFailed()}, "/0"}},
        "abcde/6");
}

TEST(StringAllocationSweepTest, NarrowToWide) {
    using R = Job<CQIRStringMultiByte, CQIRBuffer<qir_wchar_t>>;
    sweep::expect(
        [] { return R{strvals::make<CQIRStringMultiByte>("abc")}; },
        [](R& r) { r.out.build([&] { return static_cast<CQIRBuffer<qir_wchar_t>>(r.in); }); },
        [](R& r) { return show(r.out.get()); },
        {Row{{alloc(kWide, 4), counted(kWide),
              castRecord("Unable to create buffer to hold wchar string", 364)},
             "[]"}},
        "[97 98 99 0]");
}

TEST(StringAllocationSweepTest, WideToNarrow) {
    using R = Job<CQIRStringWChar, CQIRBuffer<char>>;
    sweep::expect([] { return R{CQIRStringWChar("abc")}; },
                  [](R& r) { r.out.build([&] { return static_cast<CQIRBuffer<char>>(r.in); }); },
                  [](R& r) { return show(r.out.get()); },
                  {Row{{alloc(kChar, 4), counted(kChar)}, "[]"}}, "[97 98 99 0]");
}

// The rows of a serialisation of 'abc' once its payload is in hand as 8-bit elements: every
// failure leaves the form short, so that it is emptied. `tail` follows each row's records.
std::vector<Row> formRows(const std::vector<Record>& tail) {
    std::vector<std::vector<Record>> rows = {
        {alloc(kByte, 4), raw(kByte)},                      // the payload's bytes
        {alloc(kByte, 4), assign(kByte)},                   // the payload's result
        {alloc(kByte, 1), raw(kByte)},                      // the format byte
        {alloc(kByte, 4), raw(kByte)},                      // the length
        {alloc(kByte, 1), appended(kByte)},                 // appending the format
        {alloc(kByte, 1), assign(kByte), appended(kByte)},  // appending the length
        {alloc(kByte, 5), appended(kByte)},
        {alloc(kByte, 5), assign(kByte), appended(kByte)},  // appending the payload
        {alloc(kByte, 9), appended(kByte)}};
    std::vector<Row> out;
    for (std::vector<Record>& records : rows) {
        records.insert(records.end(), tail.begin(), tail.end());
        out.push_back(Row{records, "[]"});
    }
    return out;
}

const char* const kForm = "[1 4 0 0 0 97 98 99 0]";

TEST(StringAllocationSweepTest, NarrowSerializeReportsTheSize) {
    using R = Job<CQIRStringMultiByte, CQIRBuffer<unsigned char>>;
    std::vector<Row> rows = formRows({serializeMismatch()});
    rows.insert(rows.begin(), Row{{alloc(kChar, 4), assign(kChar), serializeMismatch()}, "[]"});
    sweep::expect([] { return R{strvals::make<CQIRStringMultiByte>("abc")}; },
                  [](R& r) { r.out.build([&] { return r.in.serialize(); }); },
                  [](R& r) { return show(r.out.get()); }, rows, kForm);
    for (Row& row : rows) {
        row.records.push_back(formMismatch("CQIRStringBase<class CQIRStringMultiByte,char>"));
    }
    sweep::expect(
        [] { return R{strvals::make<CQIRStringMultiByte>("abc")}; },
        [](R& r) { r.out.build([&] { return static_cast<CQIRBuffer<unsigned char>>(r.in); }); },
        [](R& r) { return show(r.out.get()); }, rows, kForm);
}

TEST(StringAllocationSweepTest, WideSerializeEmptiesQuietly) {
    using R = Job<CQIRStringWChar, CQIRBuffer<unsigned char>>;
    std::vector<Row> rows = formRows({});
    rows.insert(rows.begin(), Row{{alloc(kChar, 4), counted(kChar)}, "[]"});
    sweep::expect([] { return R{CQIRStringWChar("abc")}; },
                  [](R& r) { r.out.build([&] { return r.in.serialize(); }); },
                  [](R& r) { return show(r.out.get()); }, rows, kForm);
    for (Row& row : rows) {
        row.records.push_back(formMismatch("CQIRStringBase<class CQIRStringWChar,wchar_t>"));
    }
    sweep::expect(
        [] { return R{CQIRStringWChar("abc")}; },
        [](R& r) { r.out.build([&] { return static_cast<CQIRBuffer<unsigned char>>(r.in); }); },
        [](R& r) { return show(r.out.get()); }, rows, kForm);
}

template <class S>
struct Reading {
    S string;
    CQIRBuffer<unsigned char> in;
    bool ok = false;
};

template <class S>
Reading<S> twoForms() {
    return Reading<S>{
        strvals::make<S>("zz"),
        bufvals::make<unsigned char>({1, 3, 0, 0, 0, 'a', 'b', 0, 1, 3, 0, 0, 0, 'c', 'd', 0})};
}

template <class S>
std::string showReading(const Reading<S>& r) {
    return std::string(r.ok ? "true " : "false ") + text(r.string) + " " + show(r.in);
}

const char* const kUnchanged = "false zz/3 [1 3 0 0 0 97 98 0 1 3 0 0 0 99 100 0]";

// The rows of a read of the first of two forms, up to the string that is built: every
// failure leaves the string and the bytes as they were.
std::vector<Row> readRows(const std::vector<std::vector<Record>>& building) {
    std::vector<std::vector<Record>> rows = {{alloc(kByte, 3), counted(kByte)},  // the payload
                                             {alloc(kChar, 3), raw(kChar)},      // its 8-bit copy
                                             {alloc(kChar, 3), assign(kChar)}};
    rows.insert(rows.end(), building.begin(), building.end());
    rows.push_back({alloc(kByte, 8), counted(kByte)});  // the bytes after the form
    std::vector<Row> out;
    for (const std::vector<Record>& records : rows) {
        out.push_back(Row{records, kUnchanged});
    }
    return out;
}

TEST(StringAllocationSweepTest, NarrowDeserializeChangesNothingOnFailure) {
    using S = CQIRStringMultiByte;
    sweep::expect(
        twoForms<S>, [](Reading<S>& r) { r.ok = r.string.deserialize(r.in); }, showReading<S>,
        readRows({{alloc(kChar, 3), assign(kChar)},
                  {alloc(kChar, 1), counted(kChar)},
                  {alloc(kChar, 3), assign(kChar)},
                  {alloc(kChar, 4)},
                  {alloc(kChar, 4), assign(kChar), trimFailed()},
                  {alloc(kChar, 3), trimFailed()}}),
        "true ab/3 [1 3 0 0 0 99 100 0]");
}

TEST(StringAllocationSweepTest, WideDeserializeChangesNothingOnFailure) {
    using S = CQIRStringWChar;
    sweep::expect(
        twoForms<S>, [](Reading<S>& r) { r.ok = r.string.deserialize(r.in); }, showReading<S>,
        readRows({{alloc(kChar, 1), counted(kChar)},
                  {alloc(kChar, 3), assign(kChar)},
                  {alloc(kChar, 3), assign(kChar), appended(kChar)},
                  {alloc(kChar, 4), appended(kChar)},
                  {alloc(kWide, 3)},
                  {alloc(kWide, 3), assign(kWide)}}),
        "true ab/3 [1 3 0 0 0 99 100 0]");
}

// Parsing storage that holds no terminator of its own needs a terminated copy of it: without
// that copy the parse answers false and leaves the caller's value alone.
template <class S>
struct Parsing {
    S string;
    bool ok = false;
    int32_t number = 77;
    double real = 77;
};

template <class S, class Char>
Parsing<S> digitsWithoutTerminator() {
    return Parsing<S>{strvals::withElements<S, Char>({'4', '2'})};
}

template <class S>
std::string showParsing(const Parsing<S>& p) {
    return std::string(p.ok ? "true " : "false ") + std::to_string(p.number) + " " +
           std::to_string(static_cast<int>(p.real));
}

TEST(StringAllocationSweepTest, ParsingStorageWithoutATerminator) {
    using M = Parsing<CQIRStringMultiByte>;
    sweep::expect(
        digitsWithoutTerminator<CQIRStringMultiByte, char>,
        [](M& p) { p.ok = p.string.toLong(p.number, 10); }, showParsing<CQIRStringMultiByte>,
        {Row{{alloc(kChar, 3)}, "false 77 77"}}, "true 42 77");
    sweep::expect(
        digitsWithoutTerminator<CQIRStringMultiByte, char>,
        [](M& p) { p.ok = p.string.toDouble(p.real); }, showParsing<CQIRStringMultiByte>,
        {Row{{alloc(kChar, 3)}, "false 77 77"}}, "true 77 42");
    using W = Parsing<CQIRStringWChar>;
    sweep::expect(
        digitsWithoutTerminator<CQIRStringWChar, qir_wchar_t>,
        [](W& p) { p.ok = p.string.toLong(p.number, 10); }, showParsing<CQIRStringWChar>,
        {Row{{alloc(kWide, 3)}, "false 77 77"}}, "true 42 77");
    sweep::expect(
        digitsWithoutTerminator<CQIRStringWChar, qir_wchar_t>,
        [](W& p) { p.ok = p.string.toDouble(p.real); }, showParsing<CQIRStringWChar>,
        {Row{{alloc(kWide, 3)}, "false 77 77"}}, "true 77 42");
}

TEST(StringAllocationSweepTest, EveryAllocationRefused) {
    using W = Job<int, CQIRStringWChar>;
    EXPECT_EQ(
        sweep::underNoMemory([] { return W{0}; },
                             [](W& r) { r.out.build([] { return CQIRStringWChar(-7, 10); }); },
                             showOut<W::In, W::Out>),
        "/0");
    using M = Job<CQIRBuffer<char>, CQIRStringMultiByte>;
    EXPECT_EQ(sweep::underNoMemory(
                  [] {
                      return M{bufvals::make<char>({'a', 0})};
                  },
                  [](M& r) { r.out.build([&] { return CQIRStringMultiByte(r.in); }); },
                  showOut<M::In, M::Out>),
              "/0");
    EXPECT_EQ(sweep::underNoMemory(
                  twoForms<CQIRStringWChar>,
                  [](Reading<CQIRStringWChar>& r) { r.ok = r.string.deserialize(r.in); },
                  showReading<CQIRStringWChar>),
              kUnchanged);
    using F = Job<CQIRStringMultiByte, CQIRBuffer<unsigned char>>;
    EXPECT_EQ(
        sweep::underNoMemory(
            [] { return F{strvals::make<CQIRStringMultiByte>("abc")}; },
            [](F& r) { r.out.build([&] { return static_cast<CQIRBuffer<unsigned char>>(r.in); }); },
            [](F& r) { return show(r.out.get()); }),
        "[]");
}

}  // namespace
