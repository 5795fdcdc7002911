#include "qir_log_string.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "qir_byte_form.h"
#include "qir_sys/unicode.h"

namespace {

using qir::form::firstZero;
using qir::form::kFormatNarrow;
using qir::form::kFormatWide;
using qir::form::kHeaderSize;

bool isBlank(uint32_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

// --- the shared storage and algorithms ---

template <class Char, class Derived>
CQIRLogStringBase<Char, Derived>::~CQIRLogStringBase() {
    delete[] m_pBuffer;
}

template <class Char, class Derived>
bool CQIRLogStringBase<Char, Derived>::resize(uint32_t n) {
    if (n == m_ulSize) {
        return true;
    }
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    m_ulSize = 0;
    if (n == 0) {
        return true;
    }
    try {
        m_pBuffer = new Char[n];
    } catch (...) {
        return false;
    }
    m_ulSize = n;
    return true;
}

template <class Char, class Derived>
Derived CQIRLogStringBase<Char, Derived>::operator+(const Derived& other) const {
    Derived result(static_cast<const Derived&>(*this));
    result += other;
    return result;
}

template <class Char, class Derived>
Derived CQIRLogStringBase<Char, Derived>::operator<<(uint32_t n) const {
    Derived result(static_cast<const Derived&>(*this));
    result <<= n;
    return result;
}

template <class Char, class Derived>
Derived CQIRLogStringBase<Char, Derived>::operator>>(uint32_t n) const {
    Derived result(static_cast<const Derived&>(*this));
    result >>= n;
    return result;
}

template <class Char, class Derived>
bool CQIRLogStringBase<Char, Derived>::operator!=(const Derived& other) const {
    return !(*this == other);
}

template <class Char, class Derived>
void CQIRLogStringBase<Char, Derived>::assignFrom(const Derived& other) {
    if (this == &other) {
        return;
    }
    if (!resize(other.m_ulSize) || other.m_pBuffer == nullptr) {
        return;
    }
    std::memcpy(m_pBuffer, other.m_pBuffer, sizeof(Char) * m_ulSize);
}

template <class Char, class Derived>
void CQIRLogStringBase<Char, Derived>::takeFrom(Derived& other) {
    delete[] m_pBuffer;
    m_pBuffer = other.m_pBuffer;
    m_ulSize = other.m_ulSize;
    other.m_pBuffer = nullptr;
    other.m_ulSize = 0;
}

template <class Char, class Derived>
void CQIRLogStringBase<Char, Derived>::appendFrom(const Derived& other) {
    if (other.m_pBuffer == nullptr) {
        return;
    }
    if (m_pBuffer == nullptr) {
        assignFrom(other);
        return;
    }
    // Taken before anything changes: `other` may be this very string.
    const uint32_t mine = textLength();
    const uint32_t theirs = other.textLength();
    if (static_cast<uint64_t>(mine) + theirs + 1 > UINT32_MAX) {
        resize(0);
        return;
    }
    Derived joined;
    if (!joined.resize(mine + theirs + 1)) {
        resize(0);
        return;
    }
    std::memcpy(joined.m_pBuffer, m_pBuffer, sizeof(Char) * mine);
    std::memcpy(joined.m_pBuffer + mine, other.m_pBuffer, sizeof(Char) * theirs);
    joined.m_pBuffer[mine + theirs] = 0;
    takeFrom(joined);
}

template <class Char, class Derived>
void CQIRLogStringBase<Char, Derived>::dropFront(uint32_t n) {
    if (n == 0 || m_pBuffer == nullptr) {
        return;
    }
    if (n >= m_ulSize - 1) {
        resize(0);
        return;
    }
    Derived rest;
    if (!rest.resize(m_ulSize - n)) {
        resize(0);
        return;
    }
    std::memcpy(rest.m_pBuffer, m_pBuffer + n, sizeof(Char) * (m_ulSize - n));
    takeFrom(rest);
}

template <class Char, class Derived>
void CQIRLogStringBase<Char, Derived>::dropBack(uint32_t n) {
    if (n == 0 || m_pBuffer == nullptr) {
        return;
    }
    if (n >= m_ulSize - 1) {
        resize(0);
        return;
    }
    Derived rest;
    if (!rest.resize(m_ulSize - n)) {
        resize(0);
        return;
    }
    std::memcpy(rest.m_pBuffer, m_pBuffer, sizeof(Char) * (m_ulSize - n));
    rest.m_pBuffer[m_ulSize - n - 1] = 0;
    takeFrom(rest);
}

template <class Char, class Derived>
bool CQIRLogStringBase<Char, Derived>::equals(const Derived& other) const {
    if (m_ulSize != other.m_ulSize) {
        return false;
    }
    if (m_pBuffer == nullptr || other.m_pBuffer == nullptr) {
        return m_pBuffer == other.m_pBuffer;
    }
    // The same elements up to this text's terminator, and the terminator too: what follows it
    // is no part of either text.
    const uint32_t text = qir::form::firstZero(m_pBuffer, m_ulSize);
    const uint32_t compared = text < m_ulSize ? text + 1 : m_ulSize;
    return std::memcmp(m_pBuffer, other.m_pBuffer, sizeof(Char) * compared) == 0;
}

template <class Char, class Derived>
bool CQIRLogStringBase<Char, Derived>::containsText(const Derived& needle) const {
    if (m_pBuffer == nullptr || needle.m_pBuffer == nullptr) {
        return false;
    }
    const uint32_t haystackLength = textLength();
    const uint32_t needleLength = needle.textLength();
    if (needleLength > haystackLength) {
        return false;
    }
    for (uint32_t start = 0; start + needleLength <= haystackLength; ++start) {
        uint32_t i = 0;
        while (i < needleLength && m_pBuffer[start + i] == needle.m_pBuffer[i]) {
            ++i;
        }
        if (i == needleLength) {
            return true;
        }
    }
    return false;
}

template <class Char, class Derived>
uint32_t CQIRLogStringBase<Char, Derived>::textLength() const {
    return m_pBuffer == nullptr ? 0 : firstZero(m_pBuffer, m_ulSize);
}

template <class Char, class Derived>
int32_t CQIRLogStringBase<Char, Derived>::parseDecimal() const {
    const uint32_t n = textLength();
    uint32_t i = 0;
    while (i < n && isBlank(static_cast<uint32_t>(m_pBuffer[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < n && (m_pBuffer[i] == '+' || m_pBuffer[i] == '-')) {
        negative = m_pBuffer[i] == '-';
        ++i;
    }
    // Saturates as a 32-bit strtol does.
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t value = 0;
    for (; i < n && m_pBuffer[i] >= '0' && m_pBuffer[i] <= '9'; ++i) {
        value = value * 10 + (m_pBuffer[i] - '0');
        if (value > limit) {
            value = limit;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

template class CQIRLogStringBase<char, CQIRLogStringMultiByte>;
template class CQIRLogStringBase<qir_wchar_t, CQIRLogStringWChar>;

// --- 8-bit ---

CQIRLogStringMultiByte::CQIRLogStringMultiByte(const char* pText) {
    if (pText == nullptr || *pText == '\0') {
        return;
    }
    const size_t bytes = std::strlen(pText) + 1;
    if (bytes > UINT32_MAX || !resize(static_cast<uint32_t>(bytes))) {
        return;
    }
    std::memcpy(m_pBuffer, pText, bytes);
}

CQIRLogStringMultiByte::CQIRLogStringMultiByte(const qir_wchar_t* pText) {
    if (pText == nullptr || *pText == 0) {
        return;
    }
    const size_t units = std::char_traits<qir_wchar_t>::length(pText) + 1;
    const size_t perUnit = MB_CUR_MAX;
    if (units > UINT32_MAX / perUnit || !resize(static_cast<uint32_t>(units * perUnit))) {
        return;
    }
    // Every unit has room for MB_CUR_MAX bytes, and a pair has room for two characters, so the
    // whole text and its terminator fit; one that filled the storage would have lost its end.
    const size_t written = qir::sys::utf16ToMultiByte(pText, units - 1, m_pBuffer, m_ulSize);
    if (written == qir::sys::kConversionFailed || written >= m_ulSize) {
        resize(0);
    }
}

CQIRLogStringMultiByte::CQIRLogStringMultiByte(const CQIRLogStringMultiByte& other)
    : CQIRLogStringBase() {
    assignFrom(other);
}

CQIRLogStringMultiByte::CQIRLogStringMultiByte(CQIRLogStringMultiByte&& other) noexcept
    : CQIRLogStringBase() {
    takeFrom(other);
}

CQIRLogStringMultiByte& CQIRLogStringMultiByte::operator=(CQIRLogStringMultiByte&& other) noexcept {
    if (this != &other) {
        takeFrom(other);
    }
    return *this;
}

CQIRLogStringMultiByte& CQIRLogStringMultiByte::operator=(const CQIRLogStringMultiByte& other) {
    assignFrom(other);
    return *this;
}

CQIRLogStringMultiByte& CQIRLogStringMultiByte::operator+=(const CQIRLogStringMultiByte& other) {
    appendFrom(other);
    return *this;
}

CQIRLogStringMultiByte& CQIRLogStringMultiByte::operator<<=(uint32_t n) {
    dropFront(n);
    return *this;
}

CQIRLogStringMultiByte& CQIRLogStringMultiByte::operator>>=(uint32_t n) {
    dropBack(n);
    return *this;
}

bool CQIRLogStringMultiByte::operator==(const CQIRLogStringMultiByte& other) const {
    return equals(other);
}

bool CQIRLogStringMultiByte::contains(const CQIRLogStringMultiByte& needle) const {
    return containsText(needle);
}

uint32_t CQIRLogStringMultiByte::length() const {
    return textLength();
}

int32_t CQIRLogStringMultiByte::toLong() const {
    return parseDecimal();
}

uint32_t CQIRLogStringMultiByte::serializedSize() const {
    return length() + 1 + kHeaderSize;
}

bool CQIRLogStringMultiByte::serialize(unsigned char* pOut, uint32_t ulCapacity) const {
    // L counts the text and one terminator, and exactly L bytes follow the header, whatever
    // room the storage has beyond the text.
    const uint32_t textBytes = length();
    if (pOut == nullptr || static_cast<uint64_t>(textBytes) + 1 + kHeaderSize > ulCapacity) {
        return false;
    }
    pOut[0] = kFormatNarrow;
    qir::form::put32(pOut + 1, textBytes + 1);
    if (textBytes > 0) {
        std::memcpy(pOut + kHeaderSize, m_pBuffer, textBytes);
    }
    pOut[kHeaderSize + textBytes] = 0;
    return true;
}

bool CQIRLogStringMultiByte::deserialize(const unsigned char* pData, uint32_t ulSize,
                                         uint32_t& ulConsumed) {
    if (pData == nullptr || ulSize < kHeaderSize || pData[0] > kFormatWide) {
        return false;
    }
    const unsigned char format = pData[0];
    if (ulSize < static_cast<uint32_t>(format) + kHeaderSize) {
        return false;
    }
    const uint32_t declared = qir::form::get32(pData + 1);
    if (declared <= 1) {
        // The empty string's form is six bytes long; they must all be there.
        if (ulSize < kHeaderSize + 1) {
            return false;
        }
        resize(0);
        ulConsumed = kHeaderSize + 1;
        return true;
    }
    if (format == 0 || static_cast<uint64_t>(declared) + kHeaderSize > ulSize) {
        return false;
    }
    const unsigned char* text = pData + kHeaderSize;
    if (format == kFormatNarrow) {
        // Text without its terminator inside the declared bytes is refused: the string
        // could not tell where it ends.
        if (firstZero(text, declared) == declared) {
            return false;
        }
        CQIRLogStringMultiByte read;
        if (!read.resize(declared)) {
            return false;
        }
        std::memcpy(read.m_pBuffer, text, declared);
        takeFrom(read);
    } else {
        if (declared % 2 != 0) {
            return false;
        }
        const uint32_t units = declared / 2;
        std::unique_ptr<qir_wchar_t[]> wide(new (std::nothrow) qir_wchar_t[units]);
        if (!wide) {
            return false;
        }
        for (uint32_t i = 0; i < units; ++i) {
            wide[i] = static_cast<qir_wchar_t>(qir::form::get16(text + 2 * i));
        }
        if (firstZero(wide.get(), units) == units) {
            return false;
        }
        CQIRLogStringMultiByte narrow(wide.get());
        if (narrow.isEmpty() && wide[0] != 0) {
            return false;  // no memory, or a character with no 8-bit form here
        }
        takeFrom(narrow);
    }
    ulConsumed = declared + kHeaderSize;
    return true;
}

// --- UTF-16 ---

CQIRLogStringWChar::CQIRLogStringWChar(const qir_wchar_t* pText) {
    if (pText == nullptr || *pText == 0) {
        return;
    }
    const size_t units = std::char_traits<qir_wchar_t>::length(pText) + 1;
    if (units > UINT32_MAX || !resize(static_cast<uint32_t>(units))) {
        return;
    }
    std::memcpy(m_pBuffer, pText, sizeof(qir_wchar_t) * units);
}

CQIRLogStringWChar::CQIRLogStringWChar(const char* pText) {
    if (pText == nullptr || *pText == '\0') {
        return;
    }
    const size_t bytes = std::strlen(pText);
    if (bytes + 1 > UINT32_MAX || !resize(static_cast<uint32_t>(bytes + 1))) {
        return;
    }
    // A character never takes more units than bytes, so the text and its terminator fit; the
    // check guards encodings that would.
    const size_t units = qir::sys::multiByteToUtf16(pText, m_pBuffer, bytes + 1);
    if (units == qir::sys::kConversionFailed || units > bytes) {
        resize(0);
    }
}

CQIRLogStringWChar::CQIRLogStringWChar(uint32_t ulValue, uint32_t ulRadix) {
    static_cast<void>(ulRadix);  // the text is decimal, whatever the caller passes
    if (!resize(33)) {
        return;
    }
    char digits[12];
    const uint32_t at = qir::form::formatDecimal(ulValue, digits);
    qir::sys::widenAscii(digits, at, m_pBuffer);
    m_pBuffer[at] = 0;
    resizeKeep(at + 1);
}

CQIRLogStringWChar::CQIRLogStringWChar(const CQIRLogStringWChar& other) : CQIRLogStringBase() {
    assignFrom(other);
}

bool CQIRLogStringWChar::resizeKeep(uint32_t n) {
    if (n == m_ulSize) {
        return true;
    }
    CQIRLogStringWChar kept;
    if (!kept.resize(n)) {
        resize(0);
        return false;
    }
    if (n > 0 && m_pBuffer != nullptr) {
        std::memcpy(kept.m_pBuffer, m_pBuffer, sizeof(qir_wchar_t) * (n < m_ulSize ? n : m_ulSize));
    }
    takeFrom(kept);
    return true;
}

CQIRLogStringWChar::CQIRLogStringWChar(CQIRLogStringWChar&& other) noexcept : CQIRLogStringBase() {
    takeFrom(other);
}

CQIRLogStringWChar& CQIRLogStringWChar::operator=(CQIRLogStringWChar&& other) noexcept {
    if (this != &other) {
        takeFrom(other);
    }
    return *this;
}

CQIRLogStringWChar& CQIRLogStringWChar::operator=(const CQIRLogStringWChar& other) {
    assignFrom(other);
    return *this;
}

CQIRLogStringWChar& CQIRLogStringWChar::operator+=(const CQIRLogStringWChar& other) {
    appendFrom(other);
    return *this;
}

CQIRLogStringWChar& CQIRLogStringWChar::operator<<=(uint32_t n) {
    dropFront(n);
    return *this;
}

CQIRLogStringWChar& CQIRLogStringWChar::operator>>=(uint32_t n) {
    dropBack(n);
    return *this;
}

bool CQIRLogStringWChar::operator==(const CQIRLogStringWChar& other) const {
    return equals(other);
}

bool CQIRLogStringWChar::contains(const CQIRLogStringWChar& needle) const {
    return containsText(needle);
}

uint32_t CQIRLogStringWChar::length() const {
    return textLength();
}

int32_t CQIRLogStringWChar::toLong() const {
    return parseDecimal();
}

uint32_t CQIRLogStringWChar::serializedSize() const {
    // ASCII text is its own 8-bit form, whatever the locale.
    const size_t units = qir::sys::asciiTextLength(m_pBuffer, m_ulSize);
    if (units != qir::sys::kNotAscii) {
        return static_cast<uint32_t>(units) + 1 + kHeaderSize;
    }
    return CQIRLogStringMultiByte(m_pBuffer).serializedSize();
}

bool CQIRLogStringWChar::serialize(unsigned char* pOut, uint32_t ulCapacity) const {
    const size_t found = qir::sys::asciiTextLength(m_pBuffer, m_ulSize);
    if (found == qir::sys::kNotAscii) {
        return CQIRLogStringMultiByte(m_pBuffer).serialize(pOut, ulCapacity);
    }
    const auto units = static_cast<uint32_t>(found);
    if (pOut == nullptr || static_cast<uint64_t>(units) + 1 + kHeaderSize > ulCapacity) {
        return false;
    }
    pOut[0] = kFormatNarrow;
    qir::form::put32(pOut + 1, units + 1);
    qir::sys::narrowAscii(m_pBuffer, units, reinterpret_cast<char*>(pOut + kHeaderSize));
    pOut[kHeaderSize + units] = 0;
    return true;
}

bool CQIRLogStringWChar::deserialize(const unsigned char* pData, uint32_t ulSize,
                                     uint32_t& ulConsumed) {
    // 8-bit ASCII text up to its terminator needs no conversion (and, in storage of the size it
    // had, no allocation either).
    if (pData != nullptr && ulSize > kHeaderSize && pData[0] == kFormatNarrow) {
        const uint32_t declared = qir::form::get32(pData + 1);
        const auto* text = reinterpret_cast<const char*>(pData + kHeaderSize);
        if (declared <= 1) {
            resize(0);  // the empty string, whose form takes all six bytes
            ulConsumed = kHeaderSize + 1;
            return true;
        }
        if (declared <= ulSize - kHeaderSize) {
            const size_t found = qir::sys::asciiTextLength(text, declared);
            const auto units = static_cast<uint32_t>(found);
            if (found < declared && units != 0) {
                if (m_ulSize != units + 1) {
                    if (!readAsciiResized(text, units)) {
                        return false;
                    }
                } else {
                    qir::sys::widenAscii(text, units, m_pBuffer);
                    m_pBuffer[units] = 0;
                }
                ulConsumed = declared + kHeaderSize;
                return true;
            }
        }
    }
    return readConverted(pData, ulSize, ulConsumed);
}

bool CQIRLogStringWChar::readAsciiResized(const char* text, uint32_t units) {
    CQIRLogStringWChar read;
    if (!read.resize(units + 1)) {
        return false;
    }
    qir::sys::widenAscii(text, units, read.m_pBuffer);
    read.m_pBuffer[units] = 0;
    takeFrom(read);
    return true;
}

bool CQIRLogStringWChar::readConverted(const unsigned char* pData, uint32_t ulSize,
                                       uint32_t& ulConsumed) {
    CQIRLogStringMultiByte narrow;
    uint32_t consumed = 0;
    if (!narrow.deserialize(pData, ulSize, consumed)) {
        return false;
    }
    CQIRLogStringWChar wide(narrow.getBuffer());
    takeFrom(wide);
    ulConsumed = consumed;
    return true;
}
