// Log records: severity names, the function-name split, copies, data blocks, the serialised
// form byte for byte, reading it back (minimum size, reset, hostile input) in every locale, and
// the time text.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "log_text.h"
#include "qir_log_data.h"
#include "qir_sys/error.h"
#include "scoped_locale.h"

namespace {

using logtext::w;

using logtext::ascii;
using Bytes = std::vector<unsigned char>;

CQIRLogData record(const std::string& function, const Bytes& data = {}) {
    return CQIRLogData(QIR_LOG_ERROR, w("message"), 5, w("Read"),
                       data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()), 8,
                       9, w("app.exe"), w("Fri Dec 04 09:41:24 2026"), w(function),
                       w(".\\qir_string_base"), 7);
}

std::string asText(const qir_wchar_t* text) {
    std::string out;
    for (; *text != 0; ++text) {
        out += static_cast<char>(*text);
    }
    return out;
}

TEST(LogSeverityTest, NamesOneBitEach) {
    const char* const names[] = {"CRITICAL",      "EXCEPTION",    "ERROR",
                                 "WARNING",       "DEBUG",        "INFORMATION",
                                 "SUCCESS",       "FAILURE",      "UNIT_TEST_FAILURE",
                                 "AUDIT_SUCCESS", "AUDIT_FAILURE"};
    for (uint32_t bit = 0; bit < 11; ++bit) {
        EXPECT_EQ(asText(qirSeverityName(1u << bit)), names[bit]);
    }
    for (uint32_t other : {0u, 3u, 12u, 2048u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(asText(qirSeverityName(other)), "UNSPECIFIED") << other;
    }
}

TEST(LogDataTest, SplitsTheFunctionText) {
    struct Case {
        const char* text;
        const char* object;
        const char* function;
    };
    for (const Case& c :
         {Case{"CQIRBuffer<unsigned char>::alloc", "CQIRBuffer<unsigned char>", "alloc"},
          Case{"CQIRStringMultiByte::serialize", "CQIRStringMultiByte", "serialize"},
          Case{"GetTouchpadLaunchState", "<empty>", "GetTouchpadLaunchState"},
          Case{"::alloc", "<empty>", "alloc"}, Case{"A::", "A", "<empty>"},
          Case{"", "<empty>", "<empty>"}}) {
        const CQIRLogData data = record(c.text);
        EXPECT_EQ(ascii(data.m_strObject), c.object) << c.text;
        EXPECT_EQ(ascii(data.m_strFunction), c.function) << c.text;
    }
}

TEST(LogDataTest, ConstructionCopiesEveryField) {
    const Bytes block{1, 2, 3};
    const CQIRLogData data = record("CQIRLog::log", block);
    EXPECT_EQ(data.m_ulSeverity, 4u);
    EXPECT_EQ(ascii(data.m_strMessage), "message");
    EXPECT_EQ(data.m_ulReturnCode, 5u);
    EXPECT_EQ(ascii(data.m_strTask), "Read");
    EXPECT_EQ(data.m_ulThreadId, 8u);
    EXPECT_EQ(data.m_ulProcessId, 9u);
    EXPECT_EQ(ascii(data.m_strApplication), "app.exe");
    EXPECT_EQ(ascii(data.m_strTime), "Fri Dec 04 09:41:24 2026");
    EXPECT_EQ(ascii(data.m_strFile), ".\\qir_string_base");
    EXPECT_EQ(data.m_ulLine, 7u);
    ASSERT_EQ(data.getDataSize(), 3u);
    EXPECT_NE(data.getData(), block.data());
    EXPECT_EQ(Bytes(data.getData(), data.getData() + 3), block);

    const unsigned char one = 1;
    EXPECT_EQ(
        CQIRLogData(1, w("m"), 0, w("t"), &one, 0, 0, 0, w(""), w(""), w("f"), w(""), 0).getData(),
        nullptr);
    EXPECT_EQ(CQIRLogData(1, w("m"), 0, w("t"), nullptr, 4, 0, 0, w(""), w(""), w("f"), w(""), 0)
                  .getDataSize(),
              0u);
}

TEST(LogDataTest, NoMemoryLeavesEmptyFieldsOrNoDataBlock) {
    const Bytes block{1, 2, 3};
    const CQIRLogStringWChar message = w("m"), task = w("t"), function = w("K::f"), empty;
    bool dataRefused = false;
    for (uint64_t n = 1;; ++n) {
        allocseam::Failing failing(n);
        const CQIRLogData data(1, message, 0, task, block.data(), 3, 0, 0, empty, empty, function,
                               empty, 0);
        if (!failing.fired()) {
            EXPECT_EQ(data.getDataSize(), 3u);
            break;
        }
        if (data.getData() == nullptr) {
            EXPECT_EQ(data.getDataSize(), 0u);
            dataRefused = true;
        } else {
            EXPECT_EQ(Bytes(data.getData(), data.getData() + data.getDataSize()), block);
        }
    }
    EXPECT_TRUE(dataRefused);
}

TEST(LogDataTest, CopiesAreDeep) {
    const Bytes block{4, 5};
    const CQIRLogData source = record("A::b", block);
    CQIRLogData target = record("X::y");
    target = source;
    EXPECT_EQ(ascii(target.m_strObject), "A");
    EXPECT_EQ(ascii(target.m_strFunction), "b");
    ASSERT_EQ(target.getDataSize(), 2u);
    EXPECT_NE(target.getData(), source.getData());
    target = target;
    EXPECT_EQ(target.getDataSize(), 2u);
    target = record("X::y");
    EXPECT_EQ(target.getData(), nullptr);
}

TEST(LogDataTest, SetData) {
    CQIRLogData data = record("f");
    const Bytes block{7, 8, 9};
    EXPECT_TRUE(data.setData(block.data(), 3));
    EXPECT_EQ(data.getDataSize(), 3u);
    EXPECT_TRUE(data.setData(nullptr, 0));
    EXPECT_EQ(data.getData(), nullptr);
    EXPECT_FALSE(data.setData(nullptr, 3));
    EXPECT_TRUE(data.setData(block.data(), 3));
    {
        allocseam::Failing failing(1);
        EXPECT_FALSE(data.setData(block.data(), 3));
    }
    EXPECT_EQ(data.getData(), nullptr);
    EXPECT_EQ(data.getDataSize(), 0u);
}

// --- the serialised form ---

void put32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

void putText(Bytes& out, const std::string& text) {
    out.push_back(1);
    put32(out, static_cast<uint32_t>(text.size() + 1));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

Bytes serialized(const CQIRLogData& data) {
    Bytes out(data.serializedSize() + 8, 0xEE);
    EXPECT_TRUE(data.serialize(out.data(), data.serializedSize()));
    for (size_t i = data.serializedSize(); i < out.size(); ++i) {
        EXPECT_EQ(out[i], 0xEE) << "written past the record at " << i;
    }
    out.resize(data.serializedSize());
    return out;
}

CQIRLogData emptyRecord() {
    const CQIRLogStringWChar none;
    return CQIRLogData(0, none, 0, none, nullptr, 0, 0, 0, none, none, none, none, 0);
}

TEST(LogDataFormTest, EmptyRecordIsSeventyBytes) {
    const CQIRLogData data = emptyRecord();
    EXPECT_EQ(data.serializedSize(), 70u);
    Bytes expected;
    put32(expected, 70);
    for (int i = 0; i < 5; ++i) {
        put32(expected, 0);
    }
    for (int i = 0; i < 7; ++i) {
        putText(expected, "");
    }
    put32(expected, 0);
    EXPECT_EQ(serialized(data), expected);
}

TEST(LogDataFormTest, LayoutByteForByte) {
    const Bytes block{0xA, 0xB, 0xC};
    const CQIRLogData data = record("CQIRLog::log", block);
    Bytes expected;
    put32(expected, 0);  // total, filled in below
    for (uint32_t v : {4u, 5u, 7u, 8u, 9u}) {
        put32(expected, v);
    }
    for (const char* text : {"message", "Read", "CQIRLog", "log", ".\\qir_string_base", "app.exe",
                             "Fri Dec 04 09:41:24 2026"}) {
        putText(expected, text);
    }
    put32(expected, 3);
    expected.insert(expected.end(), block.begin(), block.end());
    const auto total = static_cast<uint32_t>(expected.size());
    for (int i = 0; i < 4; ++i) {
        expected[static_cast<size_t>(i)] = static_cast<unsigned char>(total >> (8 * i));
    }
    EXPECT_EQ(data.serializedSize(), total);
    EXPECT_EQ(serialized(data), expected);

    Bytes small(total - 1, 0xEE);
    EXPECT_FALSE(data.serialize(small.data(), total - 1));
    EXPECT_EQ(small, Bytes(total - 1, 0xEE));
    EXPECT_FALSE(data.serialize(nullptr, 1000));
}

void expectSameFields(const CQIRLogData& a, const CQIRLogData& b) {
    EXPECT_EQ(a.m_ulSeverity, b.m_ulSeverity);
    EXPECT_EQ(a.m_ulReturnCode, b.m_ulReturnCode);
    EXPECT_EQ(a.m_ulLine, b.m_ulLine);
    EXPECT_EQ(a.m_ulThreadId, b.m_ulThreadId);
    EXPECT_EQ(a.m_ulProcessId, b.m_ulProcessId);
    EXPECT_TRUE(a.m_strMessage == b.m_strMessage);
    EXPECT_TRUE(a.m_strTask == b.m_strTask);
    EXPECT_TRUE(a.m_strObject == b.m_strObject);
    EXPECT_TRUE(a.m_strFunction == b.m_strFunction);
    EXPECT_TRUE(a.m_strFile == b.m_strFile);
    EXPECT_TRUE(a.m_strApplication == b.m_strApplication);
    EXPECT_TRUE(a.m_strTime == b.m_strTime);
    ASSERT_EQ(a.getDataSize(), b.getDataSize());
    if (a.getDataSize() != 0) {
        EXPECT_EQ(std::memcmp(a.getData(), b.getData(), a.getDataSize()), 0);
    }
}

TEST(LogDataFormTest, RoundTripWithDataBlock) {
    const CQIRLogData original = record("CQIRBuffer<char>::write", Bytes{1, 2, 3});
    Bytes bytes = serialized(original);
    bytes.push_back(0x55);  // whatever follows is not read
    CQIRLogData read = emptyRecord();
    uint32_t consumed = 0;
    ASSERT_TRUE(read.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size()), consumed));
    EXPECT_EQ(consumed, original.serializedSize());
    expectSameFields(read, original);
}

void expectReset(const CQIRLogData& data, uint32_t lastError) {
    EXPECT_EQ(data.m_ulSeverity, 0u);
    EXPECT_EQ(data.m_ulLine, 0xFFFFFFFFu);
    EXPECT_EQ(data.m_ulThreadId, 0xFFFFFFFFu);
    EXPECT_EQ(data.m_ulProcessId, 0xFFFFFFFFu);
    EXPECT_EQ(data.m_ulReturnCode, lastError);
    EXPECT_EQ(data.m_strMessage.getBuffer(), nullptr);
    EXPECT_EQ(data.m_strFunction.getBuffer(), nullptr);
    EXPECT_EQ(data.getData(), nullptr);
}

TEST(LogDataFormTest, BelowTheMinimumNothingChanges) {
    const Bytes bytes = serialized(emptyRecord());
    CQIRLogData data = record("A::b", Bytes{1});
    uint32_t consumed = 99;
    EXPECT_FALSE(data.deserialize(bytes.data(), 69, consumed));
    EXPECT_FALSE(data.deserialize(nullptr, 70, consumed));
    EXPECT_FALSE(data.deserialize(bytes.data(), 0, consumed));  // it holds data
    EXPECT_EQ(consumed, 99u);
    EXPECT_EQ(data.m_ulLine, 7u);
    EXPECT_EQ(data.getDataSize(), 1u);
}

TEST(LogDataFormTest, EmptyInputResetsARecordWithoutData) {
    CQIRLogData data = record("A::b");
    uint32_t consumed = 99;
    qir::sys::setLastError(1234);
    EXPECT_TRUE(data.deserialize(nullptr, 0, consumed));
    EXPECT_EQ(consumed, 0u);
    expectReset(data, 1234);
}

// Records that pass the minimum but do not add up: each resets the record.
struct BadRecord {
    const char* name;
    void (*spoil)(Bytes&);
};

void PrintTo(const BadRecord& c, std::ostream* os) {
    *os << c.name;
}

class BadRecordTest : public testing::TestWithParam<BadRecord> {};

TEST_P(BadRecordTest, FailsAndResets) {
    Bytes bytes = serialized(record("A::b", Bytes{1, 2, 3}));
    GetParam().spoil(bytes);
    CQIRLogData data = record("X::y");
    uint32_t consumed = 99;
    qir::sys::setLastError(77);
    allocseam::Counting counting;
    EXPECT_FALSE(data.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size()), consumed));
    EXPECT_LT(counting.requests(), 64u);  // nothing sized by the hostile numbers
    EXPECT_EQ(consumed, 99u);
    expectReset(data, 77);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, BadRecordTest,
    testing::Values(
        BadRecord{"TotalBelowFour", [](Bytes& b) { b[0] = 3, b[1] = b[2] = b[3] = 0; }},
        BadRecord{"TotalBeyondTheInput", [](Bytes& b) { b[0] = b[1] = b[2] = b[3] = 0xFF; }},
        BadRecord{"StringFormatThree", [](Bytes& b) { b[24] = 3; }},
        BadRecord{"StringLengthHuge", [](Bytes& b) { b[25] = b[26] = b[27] = b[28] = 0xFF; }},
        BadRecord{"DataSizeHuge",
                  [](Bytes& b) {
                      const size_t at = b.size() - 7;
                      b[at] = b[at + 1] = b[at + 2] = b[at + 3] = 0xFF;
                  }},
        BadRecord{"DataCut", [](Bytes& b) { b.pop_back(); }},
        BadRecord{"DataSizeCut", [](Bytes& b) { b.resize(b.size() - 5); }}),
    [](const testing::TestParamInfo<BadRecord>& param) { return std::string(param.param.name); });

TEST(LogDataFormTest, EveryTruncationFailsWithinItsInput) {
    const Bytes bytes = serialized(record("A::b", Bytes{1, 2, 3}));
    for (size_t length = 70; length < bytes.size(); ++length) {
        const Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
        CQIRLogData data = emptyRecord();
        uint32_t consumed = 0;
        EXPECT_FALSE(data.deserialize(cut.data(), static_cast<uint32_t>(length), consumed))
            << length;
    }
}

TEST(LogDataFormTest, NoMemoryFailsTheRead) {
    const Bytes bytes = serialized(record("A::b", Bytes{1, 2, 3}));
    for (uint64_t n = 1;; ++n) {
        CQIRLogData data = emptyRecord();
        uint32_t consumed = 0;
        allocseam::Failing failing(n);
        const bool ok =
            data.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size()), consumed);
        if (!failing.fired()) {
            EXPECT_TRUE(ok);
            break;
        }
        // A string that could not be stored reads as failed or as empty; never a crash or a
        // consumed count beyond the input.
        if (ok) {
            EXPECT_LE(consumed, bytes.size());
        }
    }
}

// In a multibyte locale the form still adds up: exactly serializedSize() bytes, read back
// whole, and the same bytes again.
TEST(LogDataFormTest, MultiByteTextsAddUp) {
    testlocale::ScopedLocale locale(testlocale::multiByteLocales());
    if (!locale.active()) {
        GTEST_SKIP() << "no multibyte locale in this C runtime";
    }
    const bool utf8 = locale.name().find("UTF-8") != std::string::npos;
    const std::string bytes8 = utf8 ? "caf\xc3\xa9 \xf0\x9f\x98\x80" : "a\x82\xa0";
    const CQIRLogStringWChar message(bytes8.c_str());
    ASSERT_NE(message.getBuffer(), nullptr);
    const qir_wchar_t unconvertible[] = {'x', static_cast<qir_wchar_t>(utf8 ? 0xD800 : 0x0E01), 0};
    const CQIRLogStringWChar task(unconvertible);
    const Bytes block{9, 9};
    const CQIRLogData original(QIR_LOG_WARNING, message, 1, task, block.data(), 2, 3, 4, message,
                               w("t"), w("K::f"), message, 5);
    const Bytes form = serialized(original);
    // Fixed fields and the data; message, application and file; the empty task; K, f and t.
    EXPECT_EQ(form.size(), 28u + 2 + 3 * (bytes8.size() + 6) + 6 + 3 * 7);

    CQIRLogData read = emptyRecord();
    uint32_t consumed = 0;
    ASSERT_TRUE(read.deserialize(form.data(), static_cast<uint32_t>(form.size()), consumed));
    EXPECT_EQ(consumed, form.size());
    EXPECT_TRUE(read.m_strMessage == message);
    EXPECT_TRUE(read.m_strApplication == message);
    EXPECT_EQ(read.m_strTask.getBuffer(), nullptr);  // no 8-bit form: empty
    EXPECT_EQ(serialized(read), form);
}

// --- the time text ---

std::string runtimeTime() {
    const std::time_t now = std::time(nullptr);
    char text[32] = {};
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", std::localtime(&now));
    return text;
}

TEST(LogTimeTest, MatchesTheRuntimeWithATwoDigitDay) {
    const std::string before = runtimeTime();
    const std::string ours = ascii(qirLogTimeText());
    const std::string after = runtimeTime();
    EXPECT_EQ(ours.size(), 24u);
    EXPECT_TRUE(ours == before || ours == after) << ours << " vs " << before << " / " << after;
}

}  // namespace
