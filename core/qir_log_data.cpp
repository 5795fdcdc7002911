#include "qir_log_data.h"

#include <cstring>
#include <initializer_list>
#include <iterator>
#include <new>

#include "qir_byte_form.h"
#include "qir_sys/unicode.h"

#include "qir_sys/clock.h"
#include "qir_sys/error.h"

using qir::form::get32;
using qir::form::put32;

namespace {

constexpr uint32_t kFixedSize = 28;  // total, five numbers and the data size
constexpr uint32_t kStringsOffset = 24;

// The record's texts in the order of its form.
using Texts = const CQIRLogStringWChar* const[7];

// Writes the 8-bit forms of texts that are not all ASCII, each converted once, after the fixed
// fields; `total` comes in as the size of the fixed fields and the data and goes out as the
// record's. False when they do not fit.
bool putConverted(Texts& texts, unsigned char* pOut, uint32_t ulCapacity, uint64_t& total) {
    CQIRLogStringMultiByte converted[std::size(texts)];
    for (size_t i = 0; i < std::size(texts); ++i) {
        converted[i] = CQIRLogStringMultiByte(texts[i]->getBuffer());
        total += converted[i].serializedSize();
    }
    if (pOut == nullptr || total > ulCapacity) {
        return false;
    }
    for (size_t i = 0, offset = kStringsOffset; i < std::size(texts); ++i) {
        converted[i].serialize(pOut + offset, ulCapacity - static_cast<uint32_t>(offset));
        offset += converted[i].serializedSize();
    }
    return true;
}

}  // namespace

const qir_wchar_t* qirSeverityName(uint32_t ulSeverity) {
    switch (ulSeverity) {
        case QIR_LOG_CRITICAL:
            return QIR_W("CRITICAL");
        case QIR_LOG_EXCEPTION:
            return QIR_W("EXCEPTION");
        case QIR_LOG_ERROR:
            return QIR_W("ERROR");
        case QIR_LOG_WARNING:
            return QIR_W("WARNING");
        case QIR_LOG_DEBUG:
            return QIR_W("DEBUG");
        case QIR_LOG_INFORMATION:
            return QIR_W("INFORMATION");
        case QIR_LOG_SUCCESS:
            return QIR_W("SUCCESS");
        case QIR_LOG_FAILURE:
            return QIR_W("FAILURE");
        case QIR_LOG_UNIT_TEST_FAILURE:
            return QIR_W("UNIT_TEST_FAILURE");
        case QIR_LOG_AUDIT_SUCCESS:
            return QIR_W("AUDIT_SUCCESS");
        case QIR_LOG_AUDIT_FAILURE:
            return QIR_W("AUDIT_FAILURE");
        default:
            return QIR_W("UNSPECIFIED");
    }
}

CQIRLogStringWChar qirLogTimeText() {
    qir::sys::LocalTime t{};
    if (!qir::sys::localTime(t) || t.month < 0 || t.month > 11 || t.weekday < 0 || t.weekday > 6 ||
        t.year < 0 || t.year > 9999) {
        return CQIRLogStringWChar("00:00:00");
    }
    static const char kDays[] = "SunMonTueWedThuFriSat";
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    // 'Www Mmm DD HH:MM:SS YYYY': the day of the month always has two digits.
    char text[25];
    const auto two = [&text](int at, int value) {
        text[at] = static_cast<char>('0' + value / 10 % 10);
        text[at + 1] = static_cast<char>('0' + value % 10);
    };
    std::memcpy(text, kDays + 3 * t.weekday, 3);
    text[3] = ' ';
    std::memcpy(text + 4, kMonths + 3 * t.month, 3);
    text[7] = ' ';
    two(8, t.day);
    text[10] = ' ';
    two(11, t.hour);
    text[13] = ':';
    two(14, t.minute);
    text[16] = ':';
    two(17, t.second);
    text[19] = ' ';
    two(20, t.year / 100);
    two(22, t.year % 100);
    text[24] = '\0';
    return CQIRLogStringWChar(text);
}

CQIRLogData::CQIRLogData(uint32_t ulSeverity, const CQIRLogStringWChar& strMessage,
                         uint32_t ulReturnCode, const CQIRLogStringWChar& strTask,
                         const unsigned char* pData, uint32_t ulDataSize, uint32_t ulThreadId,
                         uint32_t ulProcessId, const CQIRLogStringWChar& strApplication,
                         const CQIRLogStringWChar& strTime, const CQIRLogStringWChar& strFunction,
                         const CQIRLogStringWChar& strFile, uint32_t ulLine)
    : m_ulSeverity(ulSeverity),
      m_strMessage(strMessage),
      m_strTask(strTask),
      m_strFile(strFile),
      m_ulLine(ulLine),
      m_strApplication(strApplication),
      m_strTime(strTime),
      m_ulProcessId(ulProcessId),
      m_ulThreadId(ulThreadId),
      m_ulReturnCode(ulReturnCode) {
    if (pData != nullptr && ulDataSize != 0) {
        setData(pData, ulDataSize);
    }
    // Class part and function part: split at the first ':' when the text holds "::".
    const qir_wchar_t* text = strFunction.getBuffer();
    const uint32_t length = strFunction.length();
    uint32_t colon = length;
    bool split = false;
    for (uint32_t i = 0; i < length; ++i) {
        if (text[i] == ':' && colon == length) {
            colon = i;
        }
        if (text[i] == ':' && i + 1 < length && text[i + 1] == ':') {
            split = true;
            break;
        }
    }
    if (!split) {
        m_strFunction = strFunction;
        return;
    }
    m_strObject = strFunction >> (length - colon);
    m_strFunction = strFunction << (colon + 2);
}

CQIRLogData::CQIRLogData(const CQIRLogData& other)
    : m_ulSeverity(0), m_ulLine(0), m_ulProcessId(0), m_ulThreadId(0), m_ulReturnCode(0) {
    *this = other;
}

CQIRLogData::~CQIRLogData() {
    freeData();
}

void CQIRLogData::freeData() {
    delete[] m_pData;
    m_pData = nullptr;
    m_ulDataSize = 0;
}

CQIRLogData& CQIRLogData::operator=(const CQIRLogData& other) {
    if (this == &other) {
        return *this;
    }
    m_ulSeverity = other.m_ulSeverity;
    m_ulReturnCode = other.m_ulReturnCode;
    m_ulLine = other.m_ulLine;
    m_strMessage = other.m_strMessage;
    m_strTask = other.m_strTask;
    m_strObject = other.m_strObject;
    m_strFunction = other.m_strFunction;
    m_strFile = other.m_strFile;
    m_strApplication = other.m_strApplication;
    m_strTime = other.m_strTime;
    m_ulThreadId = other.m_ulThreadId;
    m_ulProcessId = other.m_ulProcessId;
    freeData();
    if (other.m_pData != nullptr && other.m_ulDataSize != 0) {
        setData(other.m_pData, other.m_ulDataSize);
    }
    return *this;
}

bool CQIRLogData::setData(const unsigned char* pData, uint32_t ulSize) {
    freeData();
    if (ulSize == 0) {
        return true;
    }
    if (pData == nullptr) {
        return false;
    }
    m_pData = new (std::nothrow) unsigned char[ulSize];
    if (m_pData == nullptr) {
        return false;
    }
    std::memcpy(m_pData, pData, ulSize);
    m_ulDataSize = ulSize;
    return true;
}

uint32_t CQIRLogData::serializedSize() const {
    const uint64_t size = uint64_t{kFixedSize} + m_ulDataSize + m_strMessage.serializedSize() +
                          m_strTask.serializedSize() + m_strObject.serializedSize() +
                          m_strFunction.serializedSize() + m_strFile.serializedSize() +
                          m_strApplication.serializedSize() + m_strTime.serializedSize();
    // A record that large has no serialised form: nothing has room for it.
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

bool CQIRLogData::serialize(unsigned char* pOut, uint32_t ulCapacity) const {
    const Texts texts = {&m_strMessage, &m_strTask,        &m_strObject, &m_strFunction,
                         &m_strFile,    &m_strApplication, &m_strTime};
    // ASCII text is its own 8-bit form and is copied straight into place; when a text is not
    // ASCII they are all converted once, that one conversion deciding each size.
    size_t lengths[std::size(texts)];
    uint64_t total = uint64_t{kFixedSize} + m_ulDataSize;
    for (size_t i = 0; i < std::size(texts); ++i) {
        lengths[i] = qir::sys::asciiTextLength(texts[i]->getBuffer(), texts[i]->getSize());
        if (lengths[i] == qir::sys::kNotAscii) {
            total = uint64_t{kFixedSize} + m_ulDataSize;
            return putConverted(texts, pOut, ulCapacity, total) && putFixed(pOut, total);
        }
        total += lengths[i] + 1 + qir::form::kHeaderSize;
    }
    if (pOut == nullptr || total > ulCapacity) {
        return false;
    }
    for (size_t i = 0, offset = kStringsOffset; i < std::size(texts); ++i) {
        unsigned char* out = pOut + offset;
        out[0] = qir::form::kFormatNarrow;
        put32(out + 1, static_cast<uint32_t>(lengths[i] + 1));
        qir::sys::narrowAscii(texts[i]->getBuffer(), lengths[i],
                              reinterpret_cast<char*>(out + qir::form::kHeaderSize));
        out[qir::form::kHeaderSize + lengths[i]] = 0;
        offset += lengths[i] + 1 + qir::form::kHeaderSize;
    }
    return putFixed(pOut, total);
}

bool CQIRLogData::putFixed(unsigned char* pOut, uint64_t total) const {
    put32(pOut, static_cast<uint32_t>(total));
    put32(pOut + 4, m_ulSeverity);
    put32(pOut + 8, m_ulReturnCode);
    put32(pOut + 12, m_ulLine);
    put32(pOut + 16, m_ulThreadId);
    put32(pOut + 20, m_ulProcessId);
    const uint32_t offset = static_cast<uint32_t>(total) - 4 - m_ulDataSize;
    put32(pOut + offset, m_ulDataSize);
    if (m_ulDataSize != 0) {
        std::memcpy(pOut + offset + 4, m_pData, m_ulDataSize);
    }
    return true;
}

bool CQIRLogData::deserialize(const unsigned char* pData, uint32_t ulLength, uint32_t& ulConsumed) {
    constexpr uint32_t kMinimum = kFixedSize + 7 * 6;
    if (pData == nullptr || ulLength < kMinimum) {
        if (ulLength == 0 && m_pData == nullptr) {
            reset();
            ulConsumed = 0;
            return true;
        }
        return false;
    }
    const uint32_t total = get32(pData);
    if (total < 4 || total - 4 > ulLength) {
        reset();
        return false;
    }
    // Read in place: whatever does not add up resets the whole record, and texts of the sizes
    // they had keep their storage.
    m_ulSeverity = get32(pData + 4);
    m_ulReturnCode = get32(pData + 8);
    m_ulLine = get32(pData + 12);
    m_ulThreadId = get32(pData + 16);
    m_ulProcessId = get32(pData + 20);
    uint32_t offset = kStringsOffset;
    for (CQIRLogStringWChar* text : {&m_strMessage, &m_strTask, &m_strObject, &m_strFunction,
                                     &m_strFile, &m_strApplication, &m_strTime}) {
        uint32_t consumed = 0;
        if (offset > ulLength || !text->deserialize(pData + offset, ulLength - offset, consumed)) {
            reset();
            return false;
        }
        offset += consumed;
    }
    if (uint64_t{offset} + 4 > ulLength) {
        reset();
        return false;
    }
    const uint32_t dataSize = get32(pData + offset);
    if (uint64_t{offset} + 4 + dataSize > ulLength || !setData(pData + offset + 4, dataSize)) {
        reset();
        return false;
    }
    ulConsumed = offset + 4 + dataSize;
    return true;
}

void CQIRLogData::reset() {
    const uint32_t lastError = qir::sys::lastError();
    *this = CQIRLogData(0, CQIRLogStringWChar(), lastError, CQIRLogStringWChar(), nullptr, 0,
                        0xFFFFFFFF, 0xFFFFFFFF, CQIRLogStringWChar(), CQIRLogStringWChar(),
                        CQIRLogStringWChar(), CQIRLogStringWChar(), 0xFFFFFFFF);
}
