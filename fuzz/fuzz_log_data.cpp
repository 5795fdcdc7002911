// CQIRLogData's serialised form: reading any bytes, writing back what was read, and records
// built from any texts, numbers and data.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qir_log_data.h"

namespace {

constexpr size_t kTexts = 7;
constexpr uint32_t kMinimum = 70;  // the fixed fields and seven empty texts

using Bytes = std::vector<uint8_t>;

// The seven texts in the order of the form.
const CQIRLogStringWChar* textsOf(const CQIRLogData& r, size_t i) {
    const CQIRLogStringWChar* texts[kTexts] = {&r.m_strMessage,  &r.m_strTask, &r.m_strObject,
                                               &r.m_strFunction, &r.m_strFile, &r.m_strApplication,
                                               &r.m_strTime};
    return texts[i];
}

fuzz::Units unitsOf(const CQIRLogStringWChar& s) {
    return s.getSize() == 0 ? fuzz::Units() : fuzz::Units(s.getBuffer(), s.length());
}

Bytes dataOf(const CQIRLogData& r) {
    return Bytes(r.getData(), r.getData() + r.getDataSize());
}

// Everything a record carries, compared field by field; texts by their units (the element
// count of a text read from bytes follows its 8-bit form, see the log string's reader).
bool sameRecord(const CQIRLogData& a, const CQIRLogData& b) {
    if (a.m_ulSeverity != b.m_ulSeverity || a.m_ulReturnCode != b.m_ulReturnCode ||
        a.m_ulLine != b.m_ulLine || a.m_ulThreadId != b.m_ulThreadId ||
        a.m_ulProcessId != b.m_ulProcessId || dataOf(a) != dataOf(b)) {
        return false;
    }
    for (size_t i = 0; i < kTexts; ++i) {
        if (unitsOf(*textsOf(a, i)) != unitsOf(*textsOf(b, i))) {
            return false;
        }
    }
    return true;
}

bool isReset(const CQIRLogData& r) {
    if (r.m_ulSeverity != 0 || r.m_ulLine != 0xFFFFFFFF || r.m_ulThreadId != 0xFFFFFFFF ||
        r.m_ulProcessId != 0xFFFFFFFF || r.getData() != nullptr || r.getDataSize() != 0) {
        return false;
    }
    for (size_t i = 0; i < kTexts; ++i) {
        if (textsOf(r, i)->getSize() != 0) {
            return false;
        }
    }
    return true;
}

// The record's form, written into storage of exactly serializedSize() bytes.
Bytes writeOf(const CQIRLogData& r) {
    const uint32_t size = r.serializedSize();
    std::unique_ptr<unsigned char[]> form(new unsigned char[size]);
    std::memset(form.get(), 0xA5, size);
    FUZZ_CHECK(!r.serialize(form.get(), size - 1));
    for (uint32_t i = 0; i < size; ++i) {
        FUZZ_CHECK(form[i] == 0xA5);
    }
    FUZZ_CHECK(!r.serialize(nullptr, size));
    FUZZ_CHECK(r.serialize(form.get(), size));
    FUZZ_CHECK(fuzz::le32(form.get()) == size);
    return Bytes(form.get(), form.get() + size);
}

// Writes `r`, reads the form back, and checks that the record read back writes the same bytes.
void writeAndReread(const CQIRLogData& r) {
    const Bytes form = writeOf(r);
    CQIRLogData again(r);
    FUZZ_CHECK(sameRecord(again, r));
    uint32_t consumed = 0;
    FUZZ_CHECK(again.deserialize(form.data(), static_cast<uint32_t>(form.size()), consumed));
    FUZZ_CHECK(consumed == form.size());
    FUZZ_CHECK(again.m_ulSeverity == r.m_ulSeverity && again.m_ulLine == r.m_ulLine &&
               again.m_ulReturnCode == r.m_ulReturnCode && again.m_ulThreadId == r.m_ulThreadId &&
               again.m_ulProcessId == r.m_ulProcessId && dataOf(again) == dataOf(r));
    for (size_t i = 0; i < kTexts; ++i) {
        // A text without an 8-bit form here is written as the empty string.
        std::string narrow;
        const bool narrows = fuzz::toNarrow(unitsOf(*textsOf(r, i)), narrow);
        FUZZ_CHECK(unitsOf(*textsOf(again, i)) ==
                   (narrows ? unitsOf(*textsOf(r, i)) : fuzz::Units()));
    }
    FUZZ_CHECK(writeOf(again) == form);
}

// The record the form at the front of the bytes holds, framed independently of the classes.
struct Expected {
    bool accepted = false;
    uint32_t consumed = 0;
    fuzz::Units texts[kTexts];
    Bytes data;
};

Expected expectedOf(const uint8_t* data, size_t size) {
    Expected e;
    const uint32_t total = fuzz::le32(data);
    if (total < 4 || total - 4 > size) {
        return e;
    }
    size_t offset = 24;
    for (size_t i = 0; i < kTexts; ++i) {
        const fuzz::RawFrame frame = fuzz::frameRaw(data + offset, size - offset);
        std::string narrow;
        if (!frame.framed || !fuzz::narrowTextOf(frame, narrow)) {
            return e;
        }
        // The text comes to UTF-16 through the current locale; one that does not convert
        // leaves the field empty.
        if (!fuzz::toUnits(narrow, e.texts[i])) {
            e.texts[i].clear();
        }
        offset += frame.consumed;
    }
    if (offset + 4 > size) {
        return e;
    }
    const uint32_t dataSize = fuzz::le32(data + offset);
    if (offset + 4 + uint64_t{dataSize} > size) {
        return e;
    }
    e.data.assign(data + offset + 4, data + offset + 4 + dataSize);
    e.consumed = static_cast<uint32_t>(offset + 4 + dataSize);
    e.accepted = true;
    return e;
}

CQIRLogData priorRecord(bool withData) {
    const unsigned char block[] = {1, 2, 3};
    return CQIRLogData(
        QIR_LOG_ERROR, CQIRLogStringWChar("prior message"), 5, CQIRLogStringWChar("Task"),
        withData ? block : nullptr, withData ? sizeof block : 0, 11, 22,
        CQIRLogStringWChar("app.exe"), CQIRLogStringWChar("Fri Dec 04 09:41:24 2026"),
        CQIRLogStringWChar("CQIRPrior::method"), CQIRLogStringWChar("prior.cpp"), 33);
}

void readAnyBytes(const uint8_t* data, size_t size, bool priorHasData) {
    const uint32_t length = static_cast<uint32_t>(size);
    const CQIRLogData prior = priorRecord(priorHasData);
    CQIRLogData r(prior);
    uint32_t consumed = 0xDEADBEEF;
    const bool read = r.deserialize(data, length, consumed);

    if (size < kMinimum) {
        // Too short to be a record: only an empty input on a record without data is read, as
        // the empty record; anything else leaves the record as it was.
        if (size == 0 && !priorHasData) {
            FUZZ_CHECK(read && consumed == 0 && isReset(r));
        } else {
            FUZZ_CHECK(!read && consumed == 0xDEADBEEF && sameRecord(r, prior));
        }
        return;
    }
    const Expected e = expectedOf(data, size);
    FUZZ_CHECK(read == e.accepted);
    if (!read) {
        FUZZ_CHECK(consumed == 0xDEADBEEF);
        FUZZ_CHECK(isReset(r));
        return;
    }
    FUZZ_CHECK(consumed == e.consumed);
    FUZZ_CHECK(r.m_ulSeverity == fuzz::le32(data + 4));
    FUZZ_CHECK(r.m_ulReturnCode == fuzz::le32(data + 8));
    FUZZ_CHECK(r.m_ulLine == fuzz::le32(data + 12));
    FUZZ_CHECK(r.m_ulThreadId == fuzz::le32(data + 16));
    FUZZ_CHECK(r.m_ulProcessId == fuzz::le32(data + 20));
    for (size_t i = 0; i < kTexts; ++i) {
        FUZZ_CHECK(unitsOf(*textsOf(r, i)) == e.texts[i]);
    }
    FUZZ_CHECK(dataOf(r) == e.data);
    writeAndReread(r);
}

// A record built from any texts (UTF-16), numbers and data block.
void writeAnyRecord(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const auto text = [&input] {
        const std::string bytes = input.ConsumeRandomLengthString(64);
        fuzz::Units units;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const auto unit = static_cast<qir_wchar_t>(static_cast<uint8_t>(bytes[i]) |
                                                       static_cast<uint8_t>(bytes[i + 1]) << 8);
            if (unit == 0) {
                break;
            }
            units.push_back(unit);
        }
        return CQIRLogStringWChar(units.c_str());
    };
    const uint32_t severity = input.ConsumeIntegral<uint32_t>();
    const uint32_t returnCode = input.ConsumeIntegral<uint32_t>();
    const uint32_t threadId = input.ConsumeIntegral<uint32_t>();
    const uint32_t processId = input.ConsumeIntegral<uint32_t>();
    const uint32_t line = input.ConsumeIntegral<uint32_t>();
    const CQIRLogStringWChar message = text();
    const CQIRLogStringWChar task = text();
    const CQIRLogStringWChar application = text();
    const CQIRLogStringWChar time = text();
    const CQIRLogStringWChar function = text();
    const CQIRLogStringWChar file = text();
    const Bytes block = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 64));
    const CQIRLogData r(severity, message, returnCode, task, block.empty() ? nullptr : block.data(),
                        static_cast<uint32_t>(block.size()), threadId, processId, application, time,
                        function, file, line);
    FUZZ_CHECK(dataOf(r) == block);
    FUZZ_CHECK(r.m_strMessage == message && r.m_strFile == file && r.m_strTime == time);
    writeAndReread(r);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::inEachLocale([&] {
        readAnyBytes(data, size, false);
        readAnyBytes(data, size, true);
        writeAnyRecord(data, size);
    });
    return 0;
}
