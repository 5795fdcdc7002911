// CQIRLogData's serialised form: any bytes read, and what was read and records of any text and
// data written and read back.
#include <tuple>

#include "fuzz.h"
#include "qir_log_data.h"

using Record = CQIRLogData;
constexpr uint32_t kUntouched = 0xDEADBEEF;
// Everything a record carries: its numbers in the order of the form, its texts by their units (a
// text read from bytes has one element for every byte of its 8-bit form), its data.
using Fields = std::tuple<std::vector<uint32_t>, std::vector<fuzz::Units>, fuzz::Bytes>;

static Fields fieldsOf(const Record& r) {
    std::vector<fuzz::Units> texts;
    for (auto* text : {&r.m_strMessage, &r.m_strTask, &r.m_strObject, &r.m_strFunction,
                       &r.m_strFile, &r.m_strApplication, &r.m_strTime})
        texts.push_back(fuzz::held(text->getBuffer(), text->getSize()).c_str());
    return {{r.m_ulSeverity, r.m_ulReturnCode, r.m_ulLine, r.m_ulThreadId, r.m_ulProcessId},
            texts,
            fuzz::held(r.getData(), r.getDataSize())};
}

// A text without an 8-bit form here is written as the empty string.
static void writeAndReread(const Record& r) {
    Record again(r);
    const fuzz::Bytes form = fuzz::roundTrip(r, again);
    Fields expected = fieldsOf(r);
    std::string narrow;
    for (fuzz::Units& text : std::get<1>(expected))
        text = fuzz::convert(text, narrow) ? text : fuzz::Units();
    FUZZ_CHECK(fuzz::le32(form.data()) == form.size() && fieldsOf(again) == expected);
}

// Read into a record with or without data. Taken: no more bytes consumed than given, and one
// fewer refused; the record writes a form that reads back.
// Refused: nothing consumed, and the record as it was or emptied, never half read.
static void readAnyBytes(const uint8_t* data, size_t size, bool withData) {
    const uint8_t some[] = {1, 2, 3};
    const CQIRLogStringWChar t("prior");
    const Record prior(QIR_LOG_ERROR, t, 5, t, some, withData ? 3 : 0, 11, 22, t, t, t, t, 33);
    Record r(prior);
    uint32_t consumed = kUntouched;
    const bool read = r.deserialize(data, static_cast<uint32_t>(size), consumed);
    if (!read) {
        const Fields empty{{0, r.m_ulReturnCode, ~0u, ~0u, ~0u}, std::vector<fuzz::Units>(7), {}};
        FUZZ_CHECK(consumed == kUntouched);
        FUZZ_CHECK(fieldsOf(r) == fieldsOf(prior) || fieldsOf(r) == empty);
        return;
    }
    uint32_t fewer = kUntouched;
    FUZZ_CHECK(consumed <= size);
    FUZZ_CHECK(consumed == 0 || !Record(prior).deserialize(data, consumed - 1, fewer));
    writeAndReread(r);
}

void fuzz::testOne(const uint8_t* data, size_t size) {
    readAnyBytes(data, size, false);
    readAnyBytes(data, size, true);
    // Any UTF-16 text, with or without an 8-bit form here, and any data.
    const CQIRLogStringWChar t(elements<qir_wchar_t>(data, size).c_str());
    writeAndReread(
        Record(QIR_LOG_ERROR, t, 1, t, data, static_cast<uint32_t>(size), 2, 3, t, t, t, t, 4));
}
