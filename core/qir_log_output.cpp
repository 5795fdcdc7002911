#include "qir_log_output.h"

#include <cstring>
#include <memory>
#include <new>

#include "qir_byte_form.h"
#include "qir_sys/abi.h"
#include "qir_sys/file.h"

namespace {

const unsigned char kByteOrderMark[] = {0xFF, 0xFE};
// Units of a line composed without a heap allocation: reports' lines are mostly far shorter.
constexpr uint64_t kLocalUnits = 512;

// A piece of a line: UTF-16 units, or 8-bit ASCII digits widened as they are copied.
struct Piece {
    const qir_wchar_t* wide;
    const char* ascii;
    uint32_t length;
};

Piece text(const CQIRLogStringWChar& s) {
    return {s.getBuffer(), nullptr, s.length()};
}
Piece text(const qir_wchar_t* s, uint32_t length) {
    return {s, nullptr, length};
}
template <size_t N>
Piece literal(const qir_wchar_t (&s)[N]) {
    return {s, nullptr, N - 1};
}

// Eight lower-case hexadecimal digits, as "%08x" writes a 32-bit value.
void formatHex8(uint32_t value, char (&out)[8]) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 7; i >= 0; --i) {
        out[i] = kDigits[value & 0xF];
        value >>= 4;
    }
}

// The last component of a source file text: after its last backslash or slash.
Piece filePart(const CQIRLogStringWChar& file) {
    const qir_wchar_t* begin = file.getBuffer();
    const uint32_t length = file.length();
    uint32_t start = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (begin[i] == '\\' || begin[i] == '/') {
            start = i + 1;
        }
    }
    return text(begin + start, length - start);
}

}  // namespace

bool CQIRLogOutputBase::operator==(const CQIRLogOutputInterface& other) const {
    const auto* base = dynamic_cast<const CQIRLogOutputBase*>(&other);
    return base != nullptr && base->m_ulType == m_ulType;
}

bool CQIRLogOutputBase::operator!=(const CQIRLogOutputInterface& other) const {
    return !(*this == other);
}

CQIRLogOutputTextWindows::CQIRLogOutputTextWindows(const CQIRLogStringWChar& strTarget)
    : CQIRLogOutputBase(kType), m_strTarget(strTarget), m_target(m_strTarget.getBuffer()) {}

bool CQIRLogOutputTextWindows::clear(const CQIRLogStringWChar& strTarget) {
    if (strTarget.length() == 0) {
        return false;
    }
    const uint32_t error = qir::sys::deleteFile(strTarget.getBuffer());
    return error == 0 || error == 2;
}

bool CQIRLogOutputTextWindows::write(const CQIRLogData& data, const CQIRLogStringWChar& strTarget) {
    if (strTarget.length() == 0) {
        return false;
    }
    char processId[12];
    char threadId[12];
    char returnCode[8];
    char lineNumber[12];
    const uint32_t processIdLength = qir::form::formatDecimal(data.m_ulProcessId, processId);
    const uint32_t threadIdLength = qir::form::formatDecimal(data.m_ulThreadId, threadId);
    formatHex8(data.m_ulReturnCode, returnCode);
    const uint32_t lineLength = qir::form::formatDecimal(data.m_ulLine, lineNumber);
    const qir_wchar_t* severity = qirSeverityName(data.m_ulSeverity);
    uint32_t severityLength = 0;
    while (severity[severityLength] != 0) {
        ++severityLength;
    }

    // <time> <SEVERITY> <application : pid, tid> <object::function> <"message"> <While
    // performing task: "task"> <Return Code: 0x00000000> <file> <line>\r\n
    const Piece pieces[] = {
        literal(QIR_SYS_W("<")),
        text(data.m_strTime),
        literal(QIR_SYS_W("> <")),
        text(severity, severityLength),
        literal(QIR_SYS_W("> <")),
        text(data.m_strApplication),
        literal(QIR_SYS_W(" : ")),
        {nullptr, processId, processIdLength},
        literal(QIR_SYS_W(", ")),
        {nullptr, threadId, threadIdLength},
        literal(QIR_SYS_W("> <")),
        text(data.m_strObject),
        literal(QIR_SYS_W("::")),
        text(data.m_strFunction),
        literal(QIR_SYS_W("> <\"")),
        text(data.m_strMessage),
        literal(QIR_SYS_W("\"> <While performing task: \"")),
        text(data.m_strTask),
        literal(QIR_SYS_W("\"> <Return Code: 0x")),
        {nullptr, returnCode, 8},
        literal(QIR_SYS_W("> <")),
        filePart(data.m_strFile),
        literal(QIR_SYS_W("> <")),
        {nullptr, lineNumber, lineLength},
        literal(QIR_SYS_W(">\r\n")),
    };

    uint64_t units = 0;
    for (const Piece& piece : pieces) {
        units += piece.length;
    }
    if (units * 2 > UINT32_MAX) {
        return false;
    }
    // The line as little-endian UTF-16 units, appended by one write; on the stack when it is
    // of a common length.
    qir_wchar_t local[kLocalUnits];
    std::unique_ptr<qir_wchar_t[]> heap;
    if (units > kLocalUnits) {
        heap.reset(new (std::nothrow) qir_wchar_t[units]);
        if (!heap) {
            return false;
        }
    }
    qir_wchar_t* const line = heap ? heap.get() : local;
    qir_wchar_t* out = line;
    for (const Piece& piece : pieces) {
        if (piece.wide != nullptr) {
            std::memcpy(out, piece.wide, sizeof(qir_wchar_t) * piece.length);
            out += piece.length;
        } else {
            for (uint32_t i = 0; i < piece.length; ++i) {
                *out++ = static_cast<qir_wchar_t>(static_cast<unsigned char>(piece.ascii[i]));
            }
        }
    }
    static_assert(sizeof(qir_wchar_t) == 2, "a wide unit is one UTF-16 unit");
    if constexpr (!qir::sys::kLittleEndian) {
        for (qir_wchar_t* unit = line; unit != out; ++unit) {
            const auto value = static_cast<uint16_t>(*unit);
            *unit = static_cast<qir_wchar_t>((value >> 8) | (value << 8));
        }
    }
    const auto bytes = static_cast<size_t>(units * 2);
    const uint32_t error = m_target.error() == 0 && strTarget == m_strTarget
                               ? m_target.append(kByteOrderMark, sizeof kByteOrderMark, line, bytes)
                               : qir::sys::appendToFile(strTarget.getBuffer(), kByteOrderMark,
                                                        sizeof kByteOrderMark, line, bytes);
    return error == 0;
}
