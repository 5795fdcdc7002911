// CQIRBuffer<T>: an owning heap array of exactly getSize() elements of T (char, qir_wchar_t or
// unsigned char), zero-filled when allocated and again before release. The buffer alone owns
// its storage; every copy and conversion copies the elements. Failures are reported through the
// report classes and answered with false or an empty buffer; nothing is thrown.
//
// Storage operations call one another through the virtual table, so that a derived class that
// replaces one of them is used by the others; constructors and the destructor call this
// class's own.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "qir_byte_form.h"
#include "qir_log.h"
#include "qir_log_string.h"
#include "qir_sys/error.h"
#include "qir_types.h"

// The 8-bit buffer's conversion to a byte buffer is a member template that the byte buffer
// declares too, never enabled there; clang warns of it as a conversion of the class to itself.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wclass-conversion"

template <class T>
class CQIRBuffer {
    static_assert(std::is_same_v<T, char> || std::is_same_v<T, qir_wchar_t> ||
                      std::is_same_v<T, unsigned char>,
                  "CQIRBuffer holds 8-bit text, UTF-16 units or bytes");
    static_assert(sizeof(qir_wchar_t) == 2, "a wide element is one UTF-16 unit");

  public:
    CQIRBuffer() = default;

    // ulCount zero elements; 0 gives an empty buffer and no report.
    explicit CQIRBuffer(uint32_t ulCount) {
        if (!CQIRBuffer::alloc(ulCount)) {
            report<CQIRLogException>(kLineCountConstructor, "CQIRBuffer", "Construction",
                                     "Unable to allocate memory for construction");
        }
    }

    // A copy of ulCount elements from pSource; empty for a null source or a count of 0.
    CQIRBuffer(const T* pSource, uint32_t ulCount) {
        if (pSource == nullptr || ulCount == 0) {
            return;
        }
        if (!CQIRBuffer::alloc(ulCount)) {
            report<CQIRLogException>(kLineRawConstructor, "CQIRBuffer", "Construction",
                                     "Unable to allocate memory for construction");
            return;
        }
        std::memcpy(m_pBuffer, pSource, sizeof(T) * ulCount);
    }

    CQIRBuffer(const CQIRBuffer& other) { *this = other; }

    virtual ~CQIRBuffer() {
        if (!CQIRBuffer::destroy()) {
            report<CQIRLogException>(kLineDestructor, "~CQIRBuffer", "Destruction",
                                     "Unable to free memory at destruction");
        }
    }

    // On failure this buffer is left empty, not as it was.
    CQIRBuffer& operator=(const CQIRBuffer& other) {
        if (this == &other) {
            return *this;
        }
        const uint32_t ulCount = other.m_ulSize;
        if (!alloc(ulCount)) {
            report<CQIRLogException>(kLineAssignment, "operator =", "Assignment",
                                     "Unable to allocate memory for assignment");
            return *this;
        }
        const uint32_t ulCopied = ulCount < m_ulSize ? ulCount : m_ulSize;
        if (ulCopied != 0) {
            std::memmove(m_pBuffer, other.m_pBuffer, sizeof(T) * ulCopied);
        }
        return *this;
    }

    // The bytes of the elements as they lie in memory (a wide element gives its low-order byte
    // first); no character is translated.
    virtual operator CQIRBuffer<char>() const {
        CQIRBuffer<char> result;
        const uint64_t ullBytes = static_cast<uint64_t>(m_ulSize) * sizeof(T);
        if (ullBytes > UINT32_MAX) {
            return result;  // no 8-bit buffer can hold it
        }
        const CQIRBuffer<char> bytes(reinterpret_cast<const char*>(m_pBuffer),
                                     static_cast<uint32_t>(ullBytes));
        result = bytes;
        return result;
    }

    // A wide buffer copies itself. Bytes pair up into units as they lie, byte 2k the low-order
    // one; an odd last byte gets a zero high-order byte.
    virtual operator CQIRBuffer<qir_wchar_t>() const {
        CQIRBuffer<qir_wchar_t> result;
        if constexpr (std::is_same_v<T, qir_wchar_t>) {
            const CQIRBuffer<qir_wchar_t> copy(m_pBuffer, m_ulSize);
            result = copy;
        } else {
            const uint32_t ulUnits = m_ulSize / 2 + m_ulSize % 2;
            CQIRBuffer<qir_wchar_t> units(ulUnits);
            if (units.getSize() != ulUnits) {
                report<CQIRLogException>(kLineCastWide, "operator class CQIRBuffer<wchar_t>",
                                         "CastWChar", "Unable to allocate memory for conversion");
                return result;
            }
            if (m_ulSize != 0) {
                std::memcpy(units.getBuffer(), m_pBuffer, m_ulSize);
            }
            result = units;
        }
        return result;
    }

    // Zeroes every element; answers whether the buffer holds storage.
    virtual bool zeroFill() {
        if (m_pBuffer == nullptr) {
            return false;
        }
        std::memset(static_cast<void*>(m_pBuffer), 0, sizeof(T) * m_ulSize);
        return true;
    }

    // Replaces the contents by ulCount zero elements. On failure the buffer is empty.
    virtual bool alloc(uint32_t ulCount) {
        if (!destroy()) {
            report<CQIRLogException>(kLineAllocDestroy, "alloc", "MemoryAllocation",
                                     "Unable to free memory before allocation");
            return false;
        }
        if (ulCount == 0) {
            return true;
        }
        // Through the global operator new[], where a test program's allocation seam sees it.
        T* pBlock = new (std::nothrow) T[ulCount];
        if (pBlock == nullptr) {
            m_pBuffer = nullptr;
            report<CQIRLogExceptionMemoryAlloc>(kLineAllocHeap, "alloc", "GenericAlloc",
                                                "m_pBuffer", ulCount);
            return false;
        }
        m_pBuffer = pBlock;
        m_ulSize = ulCount;
        zeroFill();
        return true;
    }

    // Wipes and releases the storage; always true. delete[] cannot fail, so the release warning
    // that other heaps would give never arises here.
    virtual bool destroy() {
        if (m_pBuffer != nullptr) {
            zeroFill();
            delete[] m_pBuffer;
        }
        m_ulSize = 0;
        m_pBuffer = nullptr;
        return true;
    }

    // Exactly ulCount elements, the leading ones kept and new ones zero. When the storage
    // cannot be had the buffer is empty; when not even the copy of the old elements can be
    // had, the buffer is left as it was. Both answer false, the buffer having reported.
    virtual bool reAlloc(uint32_t ulCount) {
        const CQIRBuffer kept(*this);
        if (kept.m_ulSize != m_ulSize) {
            return false;
        }
        if (!alloc(ulCount)) {
            return false;
        }
        const uint32_t ulKept = kept.m_ulSize < ulCount ? kept.m_ulSize : ulCount;
        if (ulKept != 0) {
            std::memcpy(m_pBuffer, kept.m_pBuffer, sizeof(T) * ulKept);
        }
        return true;
    }

    // Releases the storage through the virtual table.
    bool flush() { return destroy(); }

    // Copies all of source's elements to ulOffset, growing this buffer when they reach past its
    // end; never shrinks it. ulOffset may be getSize() (an append). Source may be this buffer.
    bool write(const CQIRBuffer& source, uint32_t ulOffset) {
        // Taken before any growth: when source is this buffer, growth replaces its storage,
        // and only its old elements, kept at the front, are to be copied.
        const uint32_t ulCount = source.m_ulSize;
        if (m_ulSize < ulOffset || ulCount > UINT32_MAX - ulOffset) {
            report<CQIRLogException>(kLineWrite, "write", "Write",
                                     "Couldn't write buffer because the offset to write at "
                                     "it outside of it's boundaries.");
            return false;
        }
        const uint32_t ulEnd = ulOffset + ulCount;
        if (m_ulSize < ulEnd && !reAlloc(ulEnd)) {
            return false;
        }
        if (ulCount != 0) {
            std::memmove(m_pBuffer + ulOffset, source.m_pBuffer, sizeof(T) * ulCount);
        }
        return true;
    }

    bool append(const CQIRBuffer& source) { return write(source, m_ulSize); }

    // Appends, reporting a failure.
    CQIRBuffer& operator+=(const CQIRBuffer& source) {
        if (!append(source)) {
            report<CQIRLogException>(kLineAppend,
                                     "operator +=", "Operator+=", "Unable to append buffer");
        }
        return *this;
    }

    // This buffer's elements followed by source's.
    CQIRBuffer operator+(const CQIRBuffer& source) const {
        CQIRBuffer joined(*this);
        joined += source;
        return joined;
    }

    // The same bytes in a byte buffer (8-bit text only).
    template <class U = T, std::enable_if_t<std::is_same_v<U, char>, int> = 0>
    operator CQIRBuffer<unsigned char>() const {
        CQIRBuffer<unsigned char> result;
        const CQIRBuffer<unsigned char> bytes(reinterpret_cast<const unsigned char*>(m_pBuffer),
                                              m_ulSize);
        result = bytes;
        return result;
    }

    // Byte buffers: the byte at ulOffset. Out of range: reported, false, ucValue untouched.
    bool read(unsigned char& ucValue, uint32_t ulOffset) const {
        static_assert(std::is_same_v<T, unsigned char>, "values are read from byte buffers");
        if (static_cast<uint64_t>(ulOffset) + 1 > m_ulSize) {
            report<CQIRLogExceptionBadArg>(kLineReadByte, "read", "Read", "ulOffset",
                                           "Not within buffer boundaries.");
            return false;
        }
        ucValue = m_pBuffer[ulOffset];
        return true;
    }

    // Byte buffers: the four bytes at ulOffset as a little-endian number, unaligned.
    bool read(uint32_t& ulValue, uint32_t ulOffset) const {
        static_assert(std::is_same_v<T, unsigned char>, "values are read from byte buffers");
        if (static_cast<uint64_t>(ulOffset) + 4 > m_ulSize) {
            report<CQIRLogExceptionBadArg>(kLineReadValue, "read", "Read", "ulOffset",
                                           "Not within buffer boundaries.");
            return false;
        }
        ulValue = qir::form::get32(m_pBuffer + ulOffset);
        return true;
    }

    // Byte buffers: fills destination, sized by the caller, from ulOffset on. An empty
    // destination reads nothing and answers true with a warning.
    bool read(CQIRBuffer<unsigned char>& destination, uint32_t ulOffset) const {
        static_assert(std::is_same_v<T, unsigned char>, "blocks are read from byte buffers");
        const uint32_t ulCount = destination.getSize();
        if (ulCount == 0) {
            report<CQIRLogWarning>(kLineReadNothing, "read", "Read",
                                   "Trying to read 0 items from this buffer");
            return true;
        }
        if (static_cast<uint64_t>(ulOffset) + ulCount > m_ulSize) {
            report<CQIRLogException>(kLineReadBlock, "read", "Read",
                                     "Unable to read the requested number of elements "
                                     "because it would cause an underflow.");
            return false;
        }
        std::memmove(destination.getBuffer(), m_pBuffer + ulOffset, ulCount);
        return true;
    }

    // Exchanges the storage of two buffers; neither allocates.
    void swap(CQIRBuffer& other) noexcept {
        T* pBuffer = m_pBuffer;
        const uint32_t ulSize = m_ulSize;
        m_pBuffer = other.m_pBuffer;
        m_ulSize = other.m_ulSize;
        other.m_pBuffer = pBuffer;
        other.m_ulSize = ulSize;
    }

    uint32_t getSize() const { return m_ulSize; }
    const T* getBuffer() const { return m_pBuffer; }
    T* getBuffer() { return m_pBuffer; }
    uint32_t getSizeInBytes() const { return m_ulSize * static_cast<uint32_t>(sizeof(T)); }

  protected:
    // The reporting sequence of one failure site: the thread's last-error value is read before
    // anything else can change it, then the record is built from the pieces (8-bit texts, or
    // a 32-bit size) that the report class composes into its message.
    template <class Report, class... Pieces>
    static void reportFailure(const char* pFile, uint32_t ulLine, const char* pClass,
                              const char* pOperation, const char* pTask, const Pieces&... pieces) {
        const uint32_t ulReturnCode = qir::sys::lastError();
        Report report;
        report.log(logPiece(pieces)..., CQIRLogStringWChar(pTask),
                   CQIRLogStringWChar(pClass) + CQIRLogStringWChar(pOperation),
                   CQIRLogStringWChar(pFile), ulLine, ulReturnCode, nullptr, 0);
    }

    T* m_pBuffer = nullptr;
    uint32_t m_ulSize = 0;

  private:
    // Records of this header keep the line numbers under which their sites have always been
    // logged, so that records stay comparable with those of earlier builds whatever the
    // layout of this file.
    enum : uint32_t {
        kLineCountConstructor = 450,
        kLineRawConstructor = 472,
        kLineDestructor = 491,
        kLineAssignment = 507,
        kLineAppend = 561,
        kLineCastWide = 737,
        kLineAllocHeap = 900,
        kLineAllocDestroy = 919,
        kLineReadBlock = 1128,
        kLineReadNothing = 1133,
        kLineReadByte = 1196,
        kLineReadValue = 1316,
        kLineWrite = 1414,
    };

    static CQIRLogStringWChar logPiece(const char* pText) { return CQIRLogStringWChar(pText); }
    static uint32_t logPiece(uint32_t ulValue) { return ulValue; }

    // "CQIRBuffer<char>::" and its kin: records name the wide element "wchar_t" everywhere.
    static constexpr const char* className() {
        if constexpr (std::is_same_v<T, char>) {
            return "CQIRBuffer<char>::";
        } else if constexpr (std::is_same_v<T, qir_wchar_t>) {
            return "CQIRBuffer<wchar_t>::";
        } else {
            return "CQIRBuffer<unsigned char>::";
        }
    }

    template <class Report, class... Pieces>
    static void report(uint32_t ulLine, const char* pOperation, const char* pTask,
                       const Pieces&... pieces) {
        reportFailure<Report>(__FILE__, ulLine, className(), pOperation, pTask, pieces...);
    }
};

#pragma GCC diagnostic pop
