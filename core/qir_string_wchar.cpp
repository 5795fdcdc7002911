#include "qir_string_wchar.h"

#include <cstring>

#include "qir_sys/wide.h"

namespace {

// 32 binary digits, a sign and the terminator.
constexpr uint32_t kNumberElements = 33;

}  // namespace

CQIRStringWChar::CQIRStringWChar(const CQIRBuffer<qir_wchar_t>& elements) {
    takeElements(elements.getBuffer(), elements.getSize());
}

CQIRStringWChar::CQIRStringWChar(const CQIRBuffer<char>& elements) {
    assignPayload(elements.getBuffer(), elements.getSize());
}

CQIRStringWChar::CQIRStringWChar(const char* pText) {
    assignText(pText);
}

CQIRStringWChar::CQIRStringWChar(int32_t lValue, uint16_t usRadix) {
    if (usRadix < 2 || usRadix > 36) {
        return;
    }
    if (!CQIRBuffer::alloc(kNumberElements)) {
        return;
    }
    // As _itow writes it: radix 10 signed, every other radix the 32-bit pattern unsigned.
    const bool bNegative = usRadix == 10 && lValue < 0;
    uint32_t ulRest = static_cast<uint32_t>(lValue);
    if (bNegative) {
        ulRest = 0u - ulRest;
    }
    char digits[kNumberElements];
    uint32_t ulCount = 0;
    do {
        const uint32_t ulDigit = ulRest % usRadix;
        digits[ulCount++] = static_cast<char>(ulDigit < 10 ? '0' + ulDigit : 'a' + ulDigit - 10);
        ulRest /= usRadix;
    } while (ulRest != 0);
    uint32_t ulLength = 0;
    if (bNegative) {
        m_pBuffer[ulLength++] = '-';
    }
    while (ulCount > 0) {
        m_pBuffer[ulLength++] = static_cast<qir_wchar_t>(digits[--ulCount]);
    }
    m_pBuffer[ulLength] = 0;
    if (ulLength + 1 < kNumberElements) {
        reAlloc(ulLength + 1);
    }
}

bool CQIRStringWChar::assignText(const char* pText) {
    if (pText == nullptr || *pText == '\0') {
        return true;
    }
    const size_t length = std::strlen(pText);
    if (length >= UINT32_MAX) {
        return false;
    }
    const auto ulLength = static_cast<uint32_t>(length);
    if (!alloc(ulLength + 1)) {
        return false;
    }
    // One unit for every byte, or the text is not taken: a text with multibyte characters, or
    // one the locale does not know, gives the empty string.
    if (qir::sys::multiByteToUtf16(pText, m_pBuffer, ulLength + 1) != length) {
        flush();
    }
    return true;
}

bool CQIRStringWChar::assignPayload(const char* pElements, uint32_t ulCount) {
    if (ulCount == 0) {
        return true;
    }
    // Elements that hold their text's end are text already; others get a terminator in a copy.
    if (qir::form::firstZero(pElements, ulCount) < ulCount) {
        return assignText(pElements);
    }
    if (ulCount == UINT32_MAX) {
        return false;
    }
    CQIRBuffer<char> terminated(ulCount + 1);
    if (terminated.getSize() != ulCount + 1) {
        return false;
    }
    std::memcpy(terminated.getBuffer(), pElements, ulCount);
    return assignText(terminated.getBuffer());
}

CQIRStringWChar::operator CQIRBuffer<char>() const {
    CQIRBuffer<char> bytes(m_ulSize);
    if (m_ulSize == 0 || bytes.getSize() != m_ulSize) {
        return bytes;
    }
    // The text up to its terminator, or all elements with one appended in a copy.
    const uint32_t ulLength = qir::form::firstZero(m_pBuffer, m_ulSize);
    CQIRBuffer<qir_wchar_t> spare;
    const qir_wchar_t* pText = ulLength < m_ulSize ? m_pBuffer : terminatedText(spare);
    if (pText != nullptr) {
        // What the conversion gives is what the bytes hold: up to a character without an
        // 8-bit form, or up to the last whole character that fits.
        qir::sys::utf16ToMultiByte(pText, ulLength, bytes.getBuffer(), m_ulSize);
    }
    return bytes;
}

bool CQIRStringWChar::operator<=(const CQIRStringWChar& other) const {
    return relate(other, Relation::kLessEqual);
}

bool CQIRStringWChar::operator>=(const CQIRStringWChar& other) const {
    return relate(other, Relation::kGreaterEqual);
}

bool CQIRStringWChar::operator<(const CQIRStringWChar& other) const {
    return relate(other, Relation::kLess);
}

bool CQIRStringWChar::operator>(const CQIRStringWChar& other) const {
    return relate(other, Relation::kGreater);
}

bool CQIRStringWChar::equalsNoCase(const CQIRStringWChar& other) const {
    return equalsIgnoringCase(other);
}

uint32_t CQIRStringWChar::length() const {
    return textLength();
}

bool CQIRStringWChar::toDouble(double& dValue) const {
    return parseDouble(dValue);
}

bool CQIRStringWChar::toLong(int32_t& lValue, unsigned char ucRadix) const {
    return parseLong(lValue, ucRadix);
}

bool CQIRStringWChar::toLower() {
    return mapCase(false);
}

bool CQIRStringWChar::toUpper() {
    return mapCase(true);
}

CQIRBuffer<unsigned char> CQIRStringWChar::serialize() const {
    const CQIRBuffer<char> text = static_cast<CQIRBuffer<char>>(*this);
    CQIRBuffer<unsigned char> form = composeForm(text);
    if (form.getSize() != serializedSize()) {
        form.flush();
    }
    return form;
}
