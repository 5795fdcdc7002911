// Log records: the serialised form read back whole or refused, copies, the time text.
#include <gtest/gtest.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "log_text.h"
#include "qir_log_data.h"
#include "qir_sys/error.h"
#include "scoped_locale.h"

namespace {

using logtext::ascii;
using logtext::w;
using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    for (std::string t; in >> t;) {
        for (size_t i = 0; i + 1 < t.size(); i += 2) {
            out.push_back(static_cast<unsigned char>(std::stoul(t.substr(i, 2), nullptr, 16)));
        }
    }
    return out;
}

// record("K::f", {10, 11, 12}): total, severity, code, line, thread, process; message, task,
// class, function, file, application, time (format 1, length, text, terminator); the data.
const Bytes kFull = hex(
    "50000000 04000000 05000000 07000000 08000000 09000000 01020000006d00 01020000007400 "
    "01020000004b00 01020000006600 01020000007800 01020000006100 01020000005400 03000000 0a0b0c");
// A reset record: no texts, no data, the thread's last error (77) as its code.
const Bytes kReset =
    hex("46000000 00000000 4d000000 ffffffff ffffffff ffffffff 010100000000 010100000000 "
        "010100000000 010100000000 010100000000 010100000000 010100000000 00000000");

CQIRLogData record(const std::string& function, const Bytes& data = {}) {
    return CQIRLogData(QIR_LOG_ERROR, w("m"), 5, w("t"), data.data(),
                       static_cast<uint32_t>(data.size()), 8, 9, w("a"), w("T"), w(function),
                       w("x"), 7);
}

// The record's form, checking on the way that it takes exactly serializedSize() bytes.
Bytes serialized(const CQIRLogData& data) {
    const uint32_t size = data.serializedSize();
    Bytes out(size + 1, 0xEE);
    EXPECT_FALSE(data.serialize(out.data(), size - 1) || data.serialize(nullptr, size));
    EXPECT_EQ(out, Bytes(size + 1, 0xEE)) << "written without room";
    EXPECT_TRUE(data.serialize(out.data(), size));
    EXPECT_EQ(out.back(), 0xEE) << "written past its size";
    out.pop_back();
    return out;
}

// kFull cut or padded to `size`, then changed at `at` to `patch`, read into a record that holds
// data. `left`: bytes left unread; -1: refused, record reset; -2: refused, record as it was.
struct Form {
    const char* name;
    size_t size;
    size_t at;
    const char* patch;
    int left;
};

const Form kForms[] = {
    {"Whole", 80, 0, "", 0},
    {"FollowedByMore", 81, 80, "55", 1},
    {"NoInput", 0, 0, "", -2},
    {"BelowTheSmallestRecord", 69, 0, "", -2},
    {"TotalBelowFour", 80, 0, "03000000", -1},
    {"TotalPastTheInput", 80, 0, "ffffffff", -1},
    {"TextOfFormatThree", 80, 24, "03", -1},
    {"TextLengthHuge", 80, 25, "ffffffff", -1},
    {"DataSizeHuge", 80, 73, "ffffffff", -1},
};

TEST(LogDataTest, FormsAreReadWholeOrRefusedWithoutAllocatingFromTheirNumbers) {
    for (const Form& c : kForms) {
        SCOPED_TRACE(c.name);
        Bytes bytes = kFull;
        bytes.resize(c.size);
        const Bytes patch = hex(c.patch);
        std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<long>(c.at));
        CQIRLogData data = record("X::y", Bytes{1});
        const Bytes before = serialized(data);
        uint32_t consumed = 99;
        qir::sys::setLastError(77);
        allocseam::Counting counting;
        const bool read = data.deserialize(bytes.data(), static_cast<uint32_t>(c.size), consumed);
        EXPECT_LT(counting.largest(), 256u);
        EXPECT_EQ(read, c.left >= 0);
        EXPECT_EQ(consumed, read ? c.size - c.left : 99u);
        EXPECT_EQ(serialized(data), read ? kFull : c.left == -1 ? kReset : before);
    }
}

TEST(LogDataTest, CopiesCutsAndRefusedAllocations) {
    CQIRLogData copy(record("K::f", Bytes{10, 11, 12}));
    CQIRLogData data = record("");
    data = copy;
    EXPECT_NE(data.getData(), copy.getData());
    EXPECT_EQ(serialized(data), kFull);
    EXPECT_FALSE(data.setData(nullptr, 3));
    {
        allocseam::Failing failing(1);
        EXPECT_FALSE(data.setData(kFull.data(), 3));
    }
    uint32_t consumed = 0;
    qir::sys::setLastError(77);
    // A record without data takes an empty input as a reset, and reads a reset record back.
    EXPECT_TRUE(data.deserialize(nullptr, 0, consumed) &&
                data.deserialize(kReset.data(), 70, consumed));
    EXPECT_EQ(serialized(data), kReset);
    for (uint32_t length = 1; length < kFull.size(); ++length) {
        EXPECT_FALSE(data.deserialize(kFull.data(), length, consumed)) << length;
    }
    for (uint64_t n = 1;; ++n) {
        bool read = false, fired = false;
        {
            allocseam::Failing failing(n);
            read = data.deserialize(kFull.data(), 80, consumed);
            fired = failing.fired();
        }
        // A text that could not be stored may read as empty.
        EXPECT_EQ(consumed, read ? 80u : consumed) << n;
        if (!fired) {
            EXPECT_EQ(serialized(data), kFull);
            break;
        }
    }
}

// The texts go in their 8-bit form, whose lengths the locale decides: sizes and offsets follow
// those, not the UTF-16 units.
TEST(LogDataTest, MultiByteTextsAddUp) {
    testlocale::ScopedLocale locale(testlocale::multiByteLocales());
    if (!locale.active()) {
        GTEST_SKIP() << "no multibyte locale in this C runtime";
    }
    const bool utf8 = locale.name().find("UTF-8") != std::string::npos;
    const std::string text = utf8 ? "caf\xc3\xa9\xf0\x9f\x98\x80" : "a\x82\xa0";
    const CQIRLogStringWChar wide(text.c_str());
    const CQIRLogData original(4, wide, 1, w(""), nullptr, 0, 3, 4, wide, wide, w("K::f"), wide, 5);
    const Bytes bytes = serialized(original);
    EXPECT_EQ(bytes.size(), 28 + 4 * (text.size() + 6) + 6 + 7 + 7);
    CQIRLogData read = record("");
    uint32_t consumed = 0;
    ASSERT_TRUE(read.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size()), consumed));
    EXPECT_EQ(consumed, bytes.size());
    EXPECT_EQ(serialized(read), bytes);
}

// The runtime's own text, with the day of the month as two digits.
TEST(LogDataTest, TimeText) {
    const auto runtime = [] {
        const std::time_t now = std::time(nullptr);
        char text[32] = {};
        std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", std::localtime(&now));
        return std::string(text);
    };
    const std::string before = runtime(), ours = ascii(qirLogTimeText()), after = runtime();
    EXPECT_TRUE(ours == before || ours == after) << ours << " vs " << before;
}

}  // namespace
