// CQIRLogData's serialised form: any bytes read, and what was read and records of any texts,
// numbers and data written and read back.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz.h"
#include "qir_log_data.h"

using Record = CQIRLogData;
constexpr uint32_t kUntouched = 0xDEADBEEF;
// In the order of the form.
uint32_t Record::*const kNumbers[] = {&Record::m_ulSeverity, &Record::m_ulReturnCode,
                                      &Record::m_ulLine, &Record::m_ulThreadId,
                                      &Record::m_ulProcessId};
CQIRLogStringWChar Record::*const kTexts[] = {
    &Record::m_strMessage, &Record::m_strTask,        &Record::m_strObject, &Record::m_strFunction,
    &Record::m_strFile,    &Record::m_strApplication, &Record::m_strTime};

// Everything a record carries: numbers, texts by their units (the element count of a text read
// from bytes follows its 8-bit form), data.
struct Fields {
    std::vector<uint32_t> n = std::vector<uint32_t>(5);
    std::vector<fuzz::Units> texts = std::vector<fuzz::Units>(7);
    fuzz::Bytes data;
    bool operator==(const Fields& o) const {
        return n == o.n && texts == o.texts && data == o.data;
    }
};

static Fields fieldsOf(const Record& r) {
    Fields f{{}, {}, fuzz::Bytes(r.getData(), r.getData() + r.getDataSize())};
    for (auto number : kNumbers)
        f.n.push_back(r.*number);
    for (auto text : kTexts)
        f.texts.push_back((r.*text).getSize() == 0 ? fuzz::Units()
                                                   : fuzz::Units((r.*text).getBuffer()));
    return f;
}

// A text without an 8-bit form here is written as the empty string.
static void writeAndReread(const Record& r) {
    Record again(r);
    const fuzz::Bytes form = fuzz::roundTrip(r, again);
    Fields expected = fieldsOf(r);
    const auto narrows = [](const fuzz::Units& text, std::string narrow = {}) {
        return fuzz::convert(text, narrow);
    };
    for (fuzz::Units& text : expected.texts)
        text = narrows(text) ? text : fuzz::Units();
    FUZZ_CHECK(fuzz::le32(form.data()) == form.size() && fieldsOf(again) == expected);
}

// A record read into one with or without data. The record at the front of the bytes, framed
// independently of the class: a text comes to UTF-16 through the current locale, and one that
// does not convert leaves its field empty. Shorter than the fixed fields and seven empty texts,
// only an empty input on a record without data is read, as the empty record; anything else
// leaves the record as it was. A longer input that is refused empties it.
static void readAnyBytes(const uint8_t* data, size_t size, bool withData) {
    const uint8_t block[] = {1, 2, 3};
    const auto w = [](const char* t) { return CQIRLogStringWChar(t); };
    const Record prior(QIR_LOG_ERROR, w("prior message"), 5, w("Task"), withData ? block : nullptr,
                       withData ? 3 : 0, 11, 22, w("app.exe"), w("Fri Dec 04 09:41:24 2026"),
                       w("CQIRPrior::method"), w("prior.cpp"), 33);
    Record r(prior);
    uint32_t consumed = kUntouched;
    const bool read = r.deserialize(data, static_cast<uint32_t>(size), consumed);
    Fields expected = fieldsOf(prior);
    size_t at = 24;
    uint32_t expectedConsumed = size == 0 && !withData ? 0 : kUntouched;
    if (size >= 70 && fuzz::le32(data) >= 4 && fuzz::le32(data) - 4 <= size) {
        for (size_t i = 0; i < 5; ++i)
            expected.n[i] = fuzz::le32(data + 4 + 4 * i);
        bool canonical = false;
        for (fuzz::Units& text : expected.texts) {
            std::string narrow;
            const size_t framed = fuzz::frameRaw(data + at, size - at, narrow, canonical);
            text = fuzz::convert(narrow, text) ? text : fuzz::Units();
            at = framed == 0 ? size : at + framed;  // a refused text leaves nothing to read
        }
        const uint64_t end = at + 4 > size ? UINT64_MAX : at + 4 + uint64_t{fuzz::le32(data + at)};
        expected.data.assign(data + std::min(at + 4, size), data + std::min<uint64_t>(end, size));
        expectedConsumed = end <= size ? static_cast<uint32_t>(end) : kUntouched;
    }
    if (expectedConsumed == 0 || (size >= 70 && expectedConsumed == kUntouched))
        expected = Fields{{0, r.m_ulReturnCode, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
                          std::vector<fuzz::Units>(7),
                          {}};
    FUZZ_CHECK(read == (expectedConsumed != kUntouched) && consumed == expectedConsumed &&
               fieldsOf(r) == expected);
    if (read)
        writeAndReread(r);
}

void fuzz::testOne(const uint8_t* data, size_t size) {
    readAnyBytes(data, size, false);
    readAnyBytes(data, size, true);
    // A record of any texts (UTF-16), numbers and data; it has no object text.
    FuzzedDataProvider input(data, size);
    Fields f;
    for (uint32_t& number : f.n)
        number = input.ConsumeIntegral<uint32_t>();
    for (size_t i = 0; i < 7; ++i) {
        const std::string bytes = input.ConsumeRandomLengthString(64);
        f.texts[i] = i == 2 ? Units()
                            : elements<qir_wchar_t>(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                    bytes.size())
                                  .c_str();
    }
    f.data = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 64));
    const auto text = [&f](size_t i) { return CQIRLogStringWChar(f.texts[i].c_str()); };
    const Record r(f.n[0], text(0), f.n[1], text(1), f.data.empty() ? nullptr : f.data.data(),
                   static_cast<uint32_t>(f.data.size()), f.n[3], f.n[4], text(5), text(6), text(3),
                   text(4), f.n[2]);
    FUZZ_CHECK(fieldsOf(r) == f);
    writeAndReread(r);
}
