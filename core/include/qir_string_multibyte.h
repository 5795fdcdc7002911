// CQIRStringMultiByte: terminated 8-bit text in the C runtime's current multibyte code page,
// on a CQIRBuffer<char> that it owns. It is the form in which strings come back from bytes.
#pragma once

#include <cstdint>

#include "qir_buffer.h"
#include "qir_string_base.h"
#include "qir_types.h"

class CQIRStringMultiByte : public CQIRStringBase<CQIRStringMultiByte, char> {
  public:
    CQIRStringMultiByte() = default;
    // Copies the elements as they are.
    CQIRStringMultiByte(const CQIRStringMultiByte& other) = default;
    // The text of arbitrary 8-bit elements: up to the first zero, then one zero.
    explicit CQIRStringMultiByte(const CQIRBuffer<char>& elements);
    ~CQIRStringMultiByte() override = default;
    CQIRStringMultiByte& operator=(const CQIRStringMultiByte& other) = default;

    // The text as UTF-16 (converted as mbstowcs does), in as many units as this string has
    // elements; a text that does not convert whole is reported.
    operator CQIRBuffer<qir_wchar_t>() const override;

    bool operator<=(const CQIRStringMultiByte& other) const override;
    bool operator>=(const CQIRStringMultiByte& other) const override;
    bool operator<(const CQIRStringMultiByte& other) const override;
    bool operator>(const CQIRStringMultiByte& other) const override;
    bool equalsNoCase(const CQIRStringMultiByte& other) const override;
    uint32_t length() const override;
    bool toDouble(double& dValue) const override;
    bool toLong(int32_t& lValue, unsigned char ucRadix) const override;
    bool toLower() override;
    bool toUpper() override;

    // Format 1, L = the element count, the elements; a form of the wrong size is emptied.
    CQIRBuffer<unsigned char> serialize() const override;

  private:
    friend class CQIRStringBase<CQIRStringMultiByte, char>;
    // The constructor from elements; false when memory failed on the way.
    bool assignPayload(const char* pElements, uint32_t ulCount);
};
