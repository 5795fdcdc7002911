// Light strings for everything the logging framework carries: 8-bit and UTF-16 text in
// storage of their own (global new and delete). They report nothing: a string that cannot
// get memory or convert its text becomes empty. Each object owns its storage; copies are deep.
#pragma once

#include <cstdint>

#include "qir_types.h"

// The storage and the operations both widths share. `Derived` is the concrete class, so that
// the copy-returning operations can build it and call its operations through the table.
template <class Char, class Derived>
class CQIRLogStringBase {
  public:
    virtual ~CQIRLogStringBase();
    virtual Derived& operator=(const Derived& other) = 0;
    virtual Derived operator+(const Derived& other) const;
    virtual Derived& operator+=(const Derived& other) = 0;
    // Without the first n characters.
    virtual Derived operator<<(uint32_t n) const;
    virtual Derived& operator<<=(uint32_t n) = 0;
    // Without the last n characters.
    virtual Derived operator>>(uint32_t n) const;
    virtual Derived& operator>>=(uint32_t n) = 0;
    virtual bool operator==(const Derived& other) const = 0;
    virtual bool operator!=(const Derived& other) const;
    // Reads the raw form: format byte, 4-byte little-endian length L, L bytes of text.
    virtual bool deserialize(const unsigned char* pData, uint32_t ulSize, uint32_t& ulConsumed) = 0;
    virtual bool contains(const Derived& needle) const = 0;
    // Characters before the first terminator.
    virtual uint32_t length() const = 0;
    // Writes the raw form with format 1 (8-bit text): length() + 6 bytes.
    virtual bool serialize(unsigned char* pOut, uint32_t ulCapacity) const = 0;
    // The decimal value of the text, clamped to the signed 32-bit range.
    virtual int32_t toLong() const = 0;

    // Storage of n elements with undefined contents (n = 0: none); false, and empty, when the
    // memory cannot be had. The same n keeps the contents.
    bool resize(uint32_t n);

    const Char* getBuffer() const { return m_pBuffer; }
    uint32_t getSize() const { return m_ulSize; }
    bool isEmpty() const { return m_pBuffer == nullptr; }

  protected:
    CQIRLogStringBase() = default;
    CQIRLogStringBase(const CQIRLogStringBase&) = delete;
    CQIRLogStringBase& operator=(const CQIRLogStringBase&) = delete;

    // The algorithms of the derived operations, alike for both widths.
    void assignFrom(const Derived& other);
    void appendFrom(const Derived& other);
    void dropFront(uint32_t n);
    void dropBack(uint32_t n);
    bool equals(const Derived& other) const;
    bool containsText(const Derived& needle) const;
    uint32_t textLength() const;
    int32_t parseDecimal() const;
    void takeFrom(Derived& other);

    Char* m_pBuffer = nullptr;
    uint32_t m_ulSize = 0;
};

class CQIRLogStringMultiByte : public CQIRLogStringBase<char, CQIRLogStringMultiByte> {
  public:
    CQIRLogStringMultiByte() = default;
    explicit CQIRLogStringMultiByte(const char* pText);
    // UTF-16 text to 8-bit text in the C runtime's current locale; empty when a character has
    // no 8-bit form. The storage holds MB_CUR_MAX bytes for every unit and the terminator.
    explicit CQIRLogStringMultiByte(const qir_wchar_t* pText);
    CQIRLogStringMultiByte(const CQIRLogStringMultiByte& other);
    CQIRLogStringMultiByte(CQIRLogStringMultiByte&& other) noexcept;
    CQIRLogStringMultiByte& operator=(CQIRLogStringMultiByte&& other) noexcept;

    CQIRLogStringMultiByte& operator=(const CQIRLogStringMultiByte& other) override;
    CQIRLogStringMultiByte& operator+=(const CQIRLogStringMultiByte& other) override;
    CQIRLogStringMultiByte& operator<<=(uint32_t n) override;
    CQIRLogStringMultiByte& operator>>=(uint32_t n) override;
    bool operator==(const CQIRLogStringMultiByte& other) const override;
    bool deserialize(const unsigned char* pData, uint32_t ulSize, uint32_t& ulConsumed) override;
    bool contains(const CQIRLogStringMultiByte& needle) const override;
    uint32_t length() const override;
    bool serialize(unsigned char* pOut, uint32_t ulCapacity) const override;
    int32_t toLong() const override;

    // Bytes the raw form takes: length() + 6.
    uint32_t serializedSize() const;

    using CQIRLogStringBase::operator!=;
    using CQIRLogStringBase::operator+;
    using CQIRLogStringBase::operator<<;
    using CQIRLogStringBase::operator>>;
};

class CQIRLogStringWChar : public CQIRLogStringBase<qir_wchar_t, CQIRLogStringWChar> {
  public:
    CQIRLogStringWChar() = default;
    explicit CQIRLogStringWChar(const qir_wchar_t* pText);
    // 8-bit text in the C runtime's current locale to UTF-16; empty when a character is
    // invalid there. The storage keeps one unit for every byte and the terminator.
    explicit CQIRLogStringWChar(const char* pText);
    // The value as a signed 32-bit decimal number ("-1" for 4294967295).
    CQIRLogStringWChar(uint32_t ulValue, uint32_t ulRadix);
    CQIRLogStringWChar(const CQIRLogStringWChar& other);
    // Moves hand the storage over; the source is left empty.
    CQIRLogStringWChar(CQIRLogStringWChar&& other) noexcept;
    CQIRLogStringWChar& operator=(CQIRLogStringWChar&& other) noexcept;

    CQIRLogStringWChar& operator=(const CQIRLogStringWChar& other) override;
    CQIRLogStringWChar& operator+=(const CQIRLogStringWChar& other) override;
    CQIRLogStringWChar& operator<<=(uint32_t n) override;
    CQIRLogStringWChar& operator>>=(uint32_t n) override;
    bool operator==(const CQIRLogStringWChar& other) const override;
    bool deserialize(const unsigned char* pData, uint32_t ulSize, uint32_t& ulConsumed) override;
    bool contains(const CQIRLogStringWChar& needle) const override;
    uint32_t length() const override;
    // Writes the 8-bit form of the text.
    bool serialize(unsigned char* pOut, uint32_t ulCapacity) const override;
    int32_t toLong() const override;

    // Bytes the raw form takes: that of the 8-bit form.
    uint32_t serializedSize() const;

    // Resizes to n elements keeping the first min(old, n) of them.
    bool resizeKeep(uint32_t n);

    using CQIRLogStringBase::operator!=;
    using CQIRLogStringBase::operator+;
    using CQIRLogStringBase::operator<<;
    using CQIRLogStringBase::operator>>;

  private:
    // The paths of deserialize that take storage or a conversion, apart from the one that takes
    // neither, which reads a text into storage of the size it had.
    bool readAsciiResized(const char* text, uint32_t units);
    bool readConverted(const unsigned char* pData, uint32_t ulSize, uint32_t& ulConsumed);
};
