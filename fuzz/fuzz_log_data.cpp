// CQIRLogData's serialised form: any bytes read, and what was read and records of any texts,
// numbers and data written and read back.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz.h"
#include "qir_log_data.h"

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;
// In the order of the form.
uint32_t CQIRLogData::*const kNumbers[] = {&CQIRLogData::m_ulSeverity, &CQIRLogData::m_ulReturnCode,
                                           &CQIRLogData::m_ulLine, &CQIRLogData::m_ulThreadId,
                                           &CQIRLogData::m_ulProcessId};
CQIRLogStringWChar CQIRLogData::*const kTexts[] = {
    &CQIRLogData::m_strMessage,  &CQIRLogData::m_strTask, &CQIRLogData::m_strObject,
    &CQIRLogData::m_strFunction, &CQIRLogData::m_strFile, &CQIRLogData::m_strApplication,
    &CQIRLogData::m_strTime};

// Everything a record carries; texts by their units (the element count of a text read from
// bytes follows its 8-bit form).
struct Fields {
    std::vector<uint32_t> numbers = std::vector<uint32_t>(5);
    std::vector<fuzz::Units> texts = std::vector<fuzz::Units>(7);
    fuzz::Bytes data;
    bool operator==(const Fields& o) const {
        return numbers == o.numbers && texts == o.texts && data == o.data;
    }
};

Fields fieldsOf(const CQIRLogData& r) {
    Fields f;
    for (size_t i = 0; i < 5; ++i) {
        f.numbers[i] = r.*kNumbers[i];
    }
    for (size_t i = 0; i < 7; ++i) {
        const CQIRLogStringWChar& text = r.*kTexts[i];
        f.texts[i] =
            text.getSize() == 0 ? fuzz::Units() : fuzz::Units(text.getBuffer(), text.length());
    }
    f.data.assign(r.getData(), r.getData() + r.getDataSize());
    return f;
}

// A text without an 8-bit form here is written as the empty string.
void writeAndReread(const CQIRLogData& r) {
    const fuzz::Bytes form = fuzz::written(r);
    FUZZ_CHECK(fuzz::le32(form.data()) == form.size());
    const CQIRLogData again = fuzz::readBack(form, r);
    Fields expected = fieldsOf(r);
    for (fuzz::Units& text : expected.texts) {
        std::string narrow;
        text = fuzz::convert(text, narrow) ? text : fuzz::Units();
    }
    FUZZ_CHECK(fieldsOf(again) == expected && fuzz::written(again) == form);
}

// The record at the front of the bytes, framed independently of the class: its size and fields,
// or kUntouched when it must be refused. A text comes to UTF-16 through the current locale; one
// that does not convert leaves its field empty.
uint32_t expectedOf(const uint8_t* data, size_t size, Fields& f) {
    const uint32_t total = fuzz::le32(data);
    if (total < 4 || total - 4 > size) {
        return kUntouched;
    }
    for (size_t i = 0; i < 5; ++i) {
        f.numbers[i] = fuzz::le32(data + 4 + 4 * i);
    }
    size_t offset = 24;
    for (fuzz::Units& text : f.texts) {
        std::string narrow;
        bool canonical = false;
        const size_t consumed = fuzz::frameRaw(data + offset, size - offset, narrow, canonical);
        if (consumed == 0) {
            return kUntouched;
        }
        text = fuzz::convert(narrow, text) ? text : fuzz::Units();
        offset += consumed;
    }
    const uint64_t end =
        offset + 4 > size ? UINT64_MAX : offset + 4 + uint64_t{fuzz::le32(data + offset)};
    if (end > size) {
        return kUntouched;
    }
    f.data.assign(data + offset + 4, data + end);
    return static_cast<uint32_t>(end);
}

// Read into a record with or without data: too short to be a record, only an empty input on a
// record without data is read, as the empty record; anything else shorter than the fixed fields
// and seven empty texts leaves the record as it was, and a refused longer one empties it.
void readAnyBytes(const uint8_t* data, size_t size, bool withData) {
    const unsigned char block[] = {1, 2, 3};
    const CQIRLogData prior(
        QIR_LOG_ERROR, CQIRLogStringWChar("prior message"), 5, CQIRLogStringWChar("Task"),
        withData ? block : nullptr, withData ? 3 : 0, 11, 22, CQIRLogStringWChar("app.exe"),
        CQIRLogStringWChar("Fri Dec 04 09:41:24 2026"), CQIRLogStringWChar("CQIRPrior::method"),
        CQIRLogStringWChar("prior.cpp"), 33);
    CQIRLogData r(prior);
    uint32_t consumed = kUntouched;
    const bool read = r.deserialize(data, static_cast<uint32_t>(size), consumed);
    Fields expected = fieldsOf(prior);
    uint32_t expectedConsumed = kUntouched;
    if (size == 0 && !withData) {
        expectedConsumed = 0;
    } else if (size >= 70) {
        expectedConsumed = expectedOf(data, size, expected);
    }
    if (expectedConsumed == 0 || (size >= 70 && expectedConsumed == kUntouched)) {
        // The empty record; the return code is the thread's last error, whatever it was.
        expected = Fields();
        expected.numbers = {0, r.m_ulReturnCode, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    }
    FUZZ_CHECK(read == (expectedConsumed != kUntouched) && consumed == expectedConsumed);
    FUZZ_CHECK(fieldsOf(r) == expected);
    if (read) {
        writeAndReread(r);
    }
}

}  // namespace

void fuzz::testOne(const uint8_t* data, size_t size) {
    readAnyBytes(data, size, false);
    readAnyBytes(data, size, true);
    // A record built from any texts (UTF-16), numbers and data; it has no object text.
    FuzzedDataProvider input(data, size);
    Fields f;
    for (uint32_t& number : f.numbers) {
        number = input.ConsumeIntegral<uint32_t>();
    }
    for (size_t i = 0; i < 7; ++i) {
        const std::string bytes = input.ConsumeRandomLengthString(64);
        f.texts[i] = i == 2 ? Units() : elements<qir_wchar_t>(bytes.data(), bytes.size()).c_str();
    }
    f.data = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 64));
    const auto text = [&f](size_t i) { return CQIRLogStringWChar(f.texts[i].c_str()); };
    const CQIRLogData r(f.numbers[0], text(0), f.numbers[1], text(1),
                        f.data.empty() ? nullptr : f.data.data(),
                        static_cast<uint32_t>(f.data.size()), f.numbers[3], f.numbers[4], text(5),
                        text(6), text(3), text(4), f.numbers[2]);
    FUZZ_CHECK(fieldsOf(r) == f);
    writeAndReread(r);
}
