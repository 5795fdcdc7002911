// Log records: the serialised form written and read back whole or refused, copies, the time
// text.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "alloc_seam.h"
#include "log_text.h"
#include "qir_log_data.h"
#include "qir_sys/error.h"

namespace {

using logtext::w;
using Bytes = std::vector<unsigned char>;

Bytes hex(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// record("K::f", {10, 11, 12}): total, severity, code, line, thread, process; message, task
// (a lone surrogate has no 8-bit form: empty), class, function, file, application, time, each
// as format 1, length, text, terminator; the data.
const Bytes kFull = hex(
    "4f000000 04000000 05000000 07000000 08000000 09000000 01020000006d00 010100000000 "
    "01020000004b00 01020000006600 01020000007800 01020000006100 01020000005400 03000000 0a0b0c");
// A reset record: no texts, no data, the thread's last error (77) as its code.
const Bytes kReset =
    hex("46000000 00000000 4d000000 ffffffff ffffffff ffffffff 010100000000 010100000000 "
        "010100000000 010100000000 010100000000 010100000000 010100000000 00000000");

CQIRLogData record(const std::string& function, const Bytes& data = {}) {
    const qir_wchar_t surrogate[] = {0xD800, 0};
    return CQIRLogData(QIR_LOG_ERROR, w("m"), 5, CQIRLogStringWChar(surrogate), data.data(),
                       static_cast<uint32_t>(data.size()), 8, 9, w("a"), w("T"), w(function),
                       w("x"), 7);
}

// The record's form: exactly serializedSize() bytes, refused with one byte less.
Bytes serialized(const CQIRLogData& data) {
    const uint32_t size = data.serializedSize();
    Bytes out(size + 1, 0xEE);
    EXPECT_FALSE(data.serialize(out.data(), size - 1) || data.serialize(nullptr, size));
    EXPECT_TRUE(std::count(out.begin(), out.end(), 0xEE) == size + 1 &&
                data.serialize(out.data(), size) && out.back() == 0xEE);
    out.pop_back();
    return out;
}

// kFull cut or padded to `size` bytes, changed at `at` to `patch`, read into a record holding
// data: `left` bytes stay unread; -1: refused, the record reset; -2: refused, the record kept.
TEST(LogDataTest, FormsAreReadWholeOrRefusedWithoutAllocatingFromTheirNumbers) {
    struct Form {
        size_t size, at;
        const char* patch;
        int left;
    };
    for (const Form& c : {Form{79, 0, "", 0}, Form{80, 79, "55", 1}, Form{69, 0, "", -2},
                          Form{79, 0, "03000000", -1}, Form{79, 0, "ffffffff", -1},
                          Form{79, 25, "ffffffff", -1}, Form{79, 72, "ffffffff", -1}}) {
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
        EXPECT_LT(counting.largest(), 256u) << c.patch;
        EXPECT_EQ(consumed, read ? c.size - c.left : 99u) << c.patch;
        EXPECT_EQ(serialized(data), c.left >= 0    ? kFull
                                    : c.left == -1 ? kReset
                                                   : before)
            << c.patch;
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
    // A record without data takes an empty input as a reset and reads a reset record back.
    uint32_t consumed = 0;
    qir::sys::setLastError(77);
    EXPECT_TRUE(data.deserialize(nullptr, 0, consumed) &&
                data.deserialize(kReset.data(), 70, consumed));
    EXPECT_EQ(serialized(data), kReset);
    for (uint32_t length = 1; length < kFull.size(); ++length) {
        EXPECT_FALSE(data.deserialize(kFull.data(), length, consumed)) << length;
    }
    // A text that could not be stored may read as empty; the record is read or reset.
    for (uint64_t n = 1, fired = 1; fired; ++n) {
        allocseam::Failing failing(n);
        const bool read = data.deserialize(kFull.data(), 79, consumed = 0);
        fired = failing.fired();
        EXPECT_TRUE(read ? consumed == 79 && (fired || data.getDataSize() == 3)
                         : data.getDataSize() == 0)
            << n;
    }
}

// The runtime's own text, with the day of the month as two digits.
TEST(LogDataTest, TimeText) {
    const auto runtime = [] {
        const std::time_t now = std::time(nullptr);
        char text[32] = {};
        std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", std::localtime(&now));
        return std::string(text);
    };
    const std::string before = runtime(), ours = logtext::ascii(qirLogTimeText()),
                      after = runtime();
    EXPECT_TRUE(ours == before || ours == after) << ours << " vs " << before;
}

}  // namespace
