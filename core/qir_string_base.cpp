#include "qir_string_base.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <type_traits>

#include "qir_byte_form.h"
#include "qir_log.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"
#include "qir_sys/wide.h"

namespace {

// Records of this source name it as its first build did and keep the lines they have always
// carried, so that they stay comparable with those of earlier builds.
constexpr const char* kFile = ".\\qir_string_base";
enum : uint32_t {
    kLineAppendFailed = 54,
    kLineSizeMismatch = 239,
    kLineFlushFailed = 243,
    kLineUnsupportedFormat = 321,
};

using qir::form::firstZero;
using qir::form::kFormatNarrow;
using qir::form::kHeaderSize;

// strncmp and wcsncmp: elements compared as unsigned values, up to n or a shared zero.
template <class Char>
int prefixOrder(const Char* a, const Char* b, uint32_t n) {
    using Unsigned = std::make_unsigned_t<Char>;
    for (uint32_t i = 0; i < n; ++i) {
        const auto left = static_cast<Unsigned>(a[i]);
        const auto right = static_cast<Unsigned>(b[i]);
        if (left != right) {
            return left < right ? -1 : 1;
        }
        if (left == 0) {
            break;
        }
    }
    return 0;
}

bool parseDoubleText(const char* pText, double& dValue) {
    dValue = std::strtod(pText, nullptr);
    return true;
}
bool parseDoubleText(const qir_wchar_t* pText, double& dValue) {
    return qir::sys::utf16ToDouble(pText, dValue);
}
bool parseLongText(const char* pText, int radix, long& lValue) {
    lValue = std::strtol(pText, nullptr, radix);
    return true;
}
bool parseLongText(const qir_wchar_t* pText, int radix, long& lValue) {
    return qir::sys::utf16ToLong(pText, radix, lValue);
}

// An ASCII letter of the other case than wanted, changed as the current locale changes it;
// anything else unchanged. 8-bit elements from 0x80 up are never letters here.
char mappedCase(char c, bool bToUpper) {
    const auto value = static_cast<unsigned char>(c);
    if (value >= 128) {
        return c;
    }
    if (bToUpper) {
        return std::islower(value) ? static_cast<char>(std::toupper(value)) : c;
    }
    return std::isupper(value) ? static_cast<char>(std::tolower(value)) : c;
}
qir_wchar_t mappedCase(qir_wchar_t c, bool bToUpper) {
    if (c >= 128) {
        return c;
    }
    const auto value = static_cast<wint_t>(c);
    if (bToUpper) {
        return std::iswlower(value) ? static_cast<qir_wchar_t>(std::towupper(value)) : c;
    }
    return std::iswupper(value) ? static_cast<qir_wchar_t>(std::towlower(value)) : c;
}

}  // namespace

template <>
const char* CQIRStringBase<CQIRStringMultiByte, char>::className() {
    return "CQIRStringBase<class CQIRStringMultiByte,char>::";
}

template <>
const char* CQIRStringBase<CQIRStringWChar, qir_wchar_t>::className() {
    return "CQIRStringBase<class CQIRStringWChar,wchar_t>::";
}

template <class Derived, class Char>
Derived CQIRStringBase<Derived, Char>::operator+(const CQIRStringBase& other) const {
    Derived joined(static_cast<const CQIRBuffer<Char>&>(*this));
    if (this->m_ulSize == 0) {
        static_cast<CQIRBuffer<Char>&>(joined) = other;
        return joined;
    }
    // Over the terminator, which other's own last element replaces: the first zero, which is
    // the last element whenever the working string could be cut after it. Without a text
    // there is no terminator, and other lands at the start.
    const uint32_t ulOffset = firstZero(joined.getBuffer(), joined.getSize());
    if (!joined.write(other, ulOffset)) {
        CQIRBuffer<Char>::template reportFailure<CQIRLogException>(
            kFile, kLineAppendFailed, className(), "operator +", "Operator+",
            "Unable to append the string because the write call failed.");
    }
    return joined;
}

template <class Derived, class Char>
CQIRStringBase<Derived, Char>::operator CQIRBuffer<unsigned char>() const {
    CQIRBuffer<unsigned char> form = serialize();
    if (form.getSize() != serializedSize()) {
        CQIRBuffer<Char>::template reportFailure<CQIRLogException>(
            kFile, kLineSizeMismatch, className(), "operator class CQIRBuffer<unsigned char>",
            "OperatorByteBuffer", "Serialized size does not match expected");
        if (!form.flush()) {
            CQIRBuffer<Char>::template reportFailure<CQIRLogException>(
                kFile, kLineFlushFailed, className(), "operator class CQIRBuffer<unsigned char>",
                "OperatorByteBuffer", "Unable to flush string.");
        }
    }
    return form;
}

template <class Derived, class Char>
uint32_t CQIRStringBase<Derived, Char>::serializedSize() const {
    return this->m_ulSize + kHeaderSize;
}

template <class Derived, class Char>
bool CQIRStringBase<Derived, Char>::deserialize(CQIRBuffer<unsigned char>& in) {
    if (in.getSize() == 0) {
        return this->flush();
    }
    unsigned char ucFormat = 0;
    if (!in.read(ucFormat, 0)) {
        return false;
    }
    if (ucFormat != kFormatNarrow) {
        CQIRBuffer<Char>::template reportFailure<CQIRLogException>(
            kFile, kLineUnsupportedFormat, className(), "deserialize", "Deserialize",
            "Unsupported serialized string format");
        return false;
    }
    uint32_t ulLength = 0;
    if (!in.read(ulLength, 1)) {
        return false;
    }
    // Nothing is allocated for more bytes than `in` holds, whatever the form declares.
    if (static_cast<uint64_t>(ulLength) + kHeaderSize > in.getSize()) {
        return false;
    }
    Derived text;
    if (!text.assignPayload(reinterpret_cast<const char*>(in.getBuffer()) + kHeaderSize,
                            ulLength)) {
        return false;
    }
    const uint32_t ulRemaining = in.getSize() - kHeaderSize - ulLength;
    CQIRBuffer<unsigned char> rest(ulRemaining);
    if (rest.getSize() != ulRemaining ||
        (ulRemaining != 0 && !in.read(rest, kHeaderSize + ulLength))) {
        return false;
    }
    // Everything is in hand: the string and `in` change together or not at all.
    this->swap(text);
    in.swap(rest);
    return true;
}

template <class Derived, class Char>
typename CQIRStringBase<Derived, Char>::TextStep CQIRStringBase<Derived, Char>::takeElements(
    const Char* pElements, uint32_t ulCount) {
    const uint32_t ulText = ulCount == 0 ? 0 : firstZero(pElements, ulCount);
    if (ulText == 0) {
        return this->flush() ? TextStep::kDone : TextStep::kFlushFailed;
    }
    // One allocation, zero-filled: the text is copied and its terminator is already there.
    if (ulText == UINT32_MAX || !this->alloc(ulText + 1)) {
        return TextStep::kCopyFailed;
    }
    std::memcpy(this->m_pBuffer, pElements, sizeof(Char) * ulText);
    return TextStep::kDone;
}

template <class Derived, class Char>
CQIRBuffer<unsigned char> CQIRStringBase<Derived, Char>::composeForm(
    const CQIRBuffer<char>& payloadText) {
    const uint32_t ulPayload = payloadText.getSize();
    if (ulPayload > UINT32_MAX - kHeaderSize) {
        return CQIRBuffer<unsigned char>();
    }
    CQIRBuffer<unsigned char> form(kHeaderSize + ulPayload);
    if (form.getSize() == kHeaderSize + ulPayload) {
        unsigned char* pOut = form.getBuffer();
        pOut[0] = kFormatNarrow;
        qir::form::put32(pOut + 1, ulPayload);
        if (ulPayload != 0) {
            std::memcpy(pOut + kHeaderSize, payloadText.getBuffer(), ulPayload);
        }
    }
    return form;
}

template <class Derived, class Char>
bool CQIRStringBase<Derived, Char>::relate(const CQIRStringBase& other, Relation relation) const {
    const uint32_t ulMine = this->m_ulSize;
    const uint32_t ulTheirs = other.m_ulSize;
    if (ulMine == 0 || ulTheirs == 0) {
        const bool bInclusive =
            relation == Relation::kLessEqual || relation == Relation::kGreaterEqual;
        return bInclusive && ulMine == 0 && ulTheirs == 0;
    }
    const int order =
        prefixOrder(this->m_pBuffer, other.m_pBuffer, ulMine < ulTheirs ? ulMine : ulTheirs);
    switch (relation) {
        case Relation::kLessEqual:
            return order <= 0 && ulMine <= ulTheirs;
        case Relation::kGreaterEqual:
            return order >= 0 && ulMine >= ulTheirs;
        case Relation::kLess:
            return order < 0 && ulMine <= ulTheirs;
        case Relation::kGreater:
            // The count rule of <, not the mirror of >=: callers have always relied on it.
            return order > 0 && ulMine <= ulTheirs;
    }
    return false;
}

template <class Derived, class Char>
bool CQIRStringBase<Derived, Char>::equalsIgnoringCase(const CQIRStringBase& other) const {
    if (this->m_ulSize != other.m_ulSize) {
        return false;
    }
    if (this->m_ulSize == 0) {
        return true;
    }
    return qir::sys::compareNoCase(this->m_pBuffer, other.m_pBuffer, this->m_ulSize) == 0;
}

template <class Derived, class Char>
uint32_t CQIRStringBase<Derived, Char>::textLength() const {
    return this->m_ulSize == 0 ? 0 : firstZero(this->m_pBuffer, this->m_ulSize);
}

template <class Derived, class Char>
const Char* CQIRStringBase<Derived, Char>::terminatedText(CQIRBuffer<Char>& spare) const {
    if (firstZero(this->m_pBuffer, this->m_ulSize) < this->m_ulSize) {
        return this->m_pBuffer;
    }
    if (this->m_ulSize == UINT32_MAX || !spare.alloc(this->m_ulSize + 1)) {
        return nullptr;
    }
    std::memcpy(spare.getBuffer(), this->m_pBuffer, sizeof(Char) * this->m_ulSize);
    return spare.getBuffer();
}

template <class Derived, class Char>
bool CQIRStringBase<Derived, Char>::parseDouble(double& dValue) const {
    if (this->m_ulSize == 0) {
        return false;
    }
    CQIRBuffer<Char> spare;
    const Char* pText = terminatedText(spare);
    if (pText == nullptr) {
        return false;
    }
    // errno is cleared first, so that only this parse can make the answer false; the
    // caller's value comes back when the parse leaves none.
    const int previous = errno;
    errno = 0;
    double dParsed = 0.0;
    if (!parseDoubleText(pText, dParsed)) {
        errno = previous;
        return false;
    }
    const bool bOutOfRange = errno == ERANGE;
    if (errno == 0) {
        errno = previous;
    }
    dValue = dParsed;
    return !bOutOfRange;
}

template <class Derived, class Char>
bool CQIRStringBase<Derived, Char>::parseLong(int32_t& lValue, unsigned char ucRadix) const {
    if (this->m_ulSize == 0 || ucRadix == 1 || ucRadix > 36) {
        return false;
    }
    CQIRBuffer<Char> spare;
    const Char* pText = terminatedText(spare);
    if (pText == nullptr) {
        return false;
    }
    const int previous = errno;
    errno = 0;
    long lParsed = 0;
    if (!parseLongText(pText, ucRadix, lParsed)) {
        errno = previous;
        return false;
    }
    // Where long has 64 bits, the 32-bit limits are applied here, as a 32-bit strtol applies
    // them: the nearest limit, and ERANGE.
    const int64_t llParsed = lParsed;
    if (llParsed > INT32_MAX) {
        lValue = INT32_MAX;
        errno = ERANGE;
    } else if (llParsed < INT32_MIN) {
        lValue = INT32_MIN;
        errno = ERANGE;
    } else {
        lValue = static_cast<int32_t>(llParsed);
    }
    const bool bOutOfRange = errno == ERANGE;
    if (errno == 0) {
        errno = previous;
    }
    return !bOutOfRange;
}

template <class Derived, class Char>
bool CQIRStringBase<Derived, Char>::mapCase(bool bToUpper) {
    if (this->m_ulSize == 0) {
        return false;
    }
    for (uint32_t i = 0; i + 1 < this->m_ulSize; ++i) {
        this->m_pBuffer[i] = mappedCase(this->m_pBuffer[i], bToUpper);
    }
    return true;
}

template class CQIRStringBase<CQIRStringMultiByte, char>;
template class CQIRStringBase<CQIRStringWChar, qir_wchar_t>;
