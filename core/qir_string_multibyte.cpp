#include "qir_string_multibyte.h"

#include "qir_log.h"
#include "qir_sys/wide.h"

namespace {

// Records of this source name it as its first build did and keep the lines they have always
// carried, so that they stay comparable with those of earlier builds.
constexpr const char* kFile = ".\\qir_string_multibyte";
constexpr const char* kClass = "CQIRStringMultiByte::";
enum : uint32_t {
    kLineFlushFailed = 82,
    kLineNotConverted = 359,
    kLineNoWideBuffer = 364,
    kLineSizeMismatch = 421,
    kLineFormFlushFailed = 425,
};

}  // namespace

CQIRStringMultiByte::CQIRStringMultiByte(const CQIRBuffer<char>& elements) {
    assignPayload(elements.getBuffer(), elements.getSize());
}

bool CQIRStringMultiByte::assignPayload(const char* pElements, uint32_t ulCount) {
    switch (takeElements(pElements, ulCount)) {
        case TextStep::kDone:
            return true;
        case TextStep::kFlushFailed:
            reportFailure<CQIRLogException>(kFile, kLineFlushFailed, kClass, "CQIRStringMultiByte",
                                            "Construction", "Unable to flush string.");
            return false;
        case TextStep::kCopyFailed:
            break;
    }
    return false;
}

CQIRStringMultiByte::operator CQIRBuffer<qir_wchar_t>() const {
    CQIRBuffer<qir_wchar_t> units(m_ulSize);
    if (m_ulSize == 0) {
        return units;
    }
    if (units.getSize() != m_ulSize) {
        reportFailure<CQIRLogException>(kFile, kLineNoWideBuffer, kClass,
                                        "operator class CQIRBuffer<wchar_t>", "CastWCHAR",
                                        "Unable to create buffer to hold wchar string");
        return units;
    }
    CQIRBuffer<char> spare;
    const char* pText = terminatedText(spare);
    const size_t converted = pText == nullptr
                                 ? qir::sys::kConversionFailed
                                 : qir::sys::multiByteToUtf16(pText, units.getBuffer(), m_ulSize);
    if (converted != m_ulSize - 1) {
        reportFailure<CQIRLogException>(kFile, kLineNotConverted, kClass,
                                        "operator class CQIRBuffer<wchar_t>", "CastWCHAR",
                                        "Unable to convert multibyte string into wide char string");
    }
    return units;
}

bool CQIRStringMultiByte::operator<=(const CQIRStringMultiByte& other) const {
    return relate(other, Relation::kLessEqual);
}

bool CQIRStringMultiByte::operator>=(const CQIRStringMultiByte& other) const {
    return relate(other, Relation::kGreaterEqual);
}

bool CQIRStringMultiByte::operator<(const CQIRStringMultiByte& other) const {
    return relate(other, Relation::kLess);
}

bool CQIRStringMultiByte::operator>(const CQIRStringMultiByte& other) const {
    return relate(other, Relation::kGreater);
}

bool CQIRStringMultiByte::equalsNoCase(const CQIRStringMultiByte& other) const {
    return equalsIgnoringCase(other);
}

uint32_t CQIRStringMultiByte::length() const {
    return textLength();
}

bool CQIRStringMultiByte::toDouble(double& dValue) const {
    return parseDouble(dValue);
}

bool CQIRStringMultiByte::toLong(int32_t& lValue, unsigned char ucRadix) const {
    return parseLong(lValue, ucRadix);
}

bool CQIRStringMultiByte::toLower() {
    return mapCase(false);
}

bool CQIRStringMultiByte::toUpper() {
    return mapCase(true);
}

CQIRBuffer<unsigned char> CQIRStringMultiByte::serialize() const {
    CQIRBuffer<unsigned char> form = composeForm(*this);
    if (form.getSize() != serializedSize()) {
        reportFailure<CQIRLogException>(kFile, kLineSizeMismatch, kClass, "serialize", "Serialize",
                                        "Serialized size does not match expected");
        if (!form.flush()) {
            reportFailure<CQIRLogException>(kFile, kLineFormFlushFailed, kClass, "serialize",
                                            "Serialize", "Unable to flush serialized buffer");
        }
    }
    return form;
}
