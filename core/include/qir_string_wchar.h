// CQIRStringWChar: terminated UTF-16 text on a CQIRBuffer<qir_wchar_t> that it owns, built
// from 8-bit text in the C runtime's current locale or from a number. Its byte form carries
// the text converted to 8 bits.
#pragma once

#include <cstdint>

#include "qir_buffer.h"
#include "qir_string_base.h"
#include "qir_types.h"

class CQIRStringWChar : public CQIRStringBase<CQIRStringWChar, qir_wchar_t> {
  public:
    CQIRStringWChar() = default;
    // Copies the elements as they are.
    CQIRStringWChar(const CQIRStringWChar& other) = default;
    // The text of arbitrary UTF-16 elements: up to the first zero, then one zero.
    explicit CQIRStringWChar(const CQIRBuffer<qir_wchar_t>& elements);
    // 8-bit elements taken as text in the current locale up to their first zero.
    explicit CQIRStringWChar(const CQIRBuffer<char>& elements);
    // 8-bit text in the current locale; empty for null text and for text that does not give
    // exactly one unit per byte.
    explicit CQIRStringWChar(const char* pText);
    // The value's digits in usRadix (2 to 36; another radix gives the empty string), letters
    // lower-case. Radix 10 writes a sign; the others write the 32-bit pattern unsigned.
    CQIRStringWChar(int32_t lValue, uint16_t usRadix);
    ~CQIRStringWChar() override = default;
    CQIRStringWChar& operator=(const CQIRStringWChar& other) = default;

    // The text in the current locale (as wcstombs converts it) in as many bytes as this string
    // has elements: cut where they run out, zeros after a character that has no 8-bit form.
    operator CQIRBuffer<char>() const override;

    bool operator<=(const CQIRStringWChar& other) const override;
    bool operator>=(const CQIRStringWChar& other) const override;
    bool operator<(const CQIRStringWChar& other) const override;
    bool operator>(const CQIRStringWChar& other) const override;
    bool equalsNoCase(const CQIRStringWChar& other) const override;
    uint32_t length() const override;
    bool toDouble(double& dValue) const override;
    bool toLong(int32_t& lValue, unsigned char ucRadix) const override;
    bool toLower() override;
    bool toUpper() override;

    // Format 1, L = the element count, the text converted to 8 bits; a form of the wrong size
    // is emptied.
    CQIRBuffer<unsigned char> serialize() const override;

  private:
    friend class CQIRStringBase<CQIRStringWChar, qir_wchar_t>;
    // The constructors from 8-bit elements and from 8-bit text; false when memory failed on
    // the way (text that does not convert is no failure: it gives the empty string).
    bool assignPayload(const char* pElements, uint32_t ulCount);
    bool assignText(const char* pText);
};
