// CQIRStringBase<Derived, Char>: what the 8-bit and the UTF-16 string share. A string is a
// CQIRBuffer<Char> whose non-empty contents are the text and exactly one terminating zero, and
// which has no storage at all when empty; it is also a CQIRSerialObject whose byte form is a
// format byte 1, a 32-bit little-endian length L and L bytes of 8-bit text with its zero.
//
// Text operations take the element count as the authority: count 0 is the empty string, and
// no operation reads past the storage, whatever elements a caller wrote into it.
#pragma once

#include <cstdint>

#include "qir_buffer.h"
#include "qir_serial_object.h"

template <class Derived, class Char>
class CQIRStringBase : public CQIRBuffer<Char>, public CQIRSerialObject {
  public:
    ~CQIRStringBase() override = default;

    // The orderings compare the texts over the shorter element count (terminators included),
    // then let the counts decide: <= and < need this count at most the other's, >= at least
    // it, and > at most it as well. An empty string is only <= and >= another empty one.
    virtual bool operator<=(const Derived& other) const = 0;
    virtual bool operator>=(const Derived& other) const = 0;
    virtual bool operator<(const Derived& other) const = 0;
    virtual bool operator>(const Derived& other) const = 0;
    // Equal counts and texts equal but for case in the current locale.
    virtual bool equalsNoCase(const Derived& other) const = 0;
    // Characters before the first zero element.
    virtual uint32_t length() const = 0;
    // The text as strtod reads it; false for the empty string (dValue untouched) and for a
    // value out of range.
    virtual bool toDouble(double& dValue) const = 0;
    // The text as strtol reads it in ucRadix (0: from the prefix, else 2 to 36), for a signed
    // 32-bit result: a value beyond it stores the nearest limit and answers false. The empty
    // string and another radix answer false with lValue untouched.
    virtual bool toLong(int32_t& lValue, unsigned char ucRadix) const = 0;
    // ASCII letters change case; every other element, and the last one, stays. False for the
    // empty string.
    virtual bool toLower() = 0;
    virtual bool toUpper() = 0;

    // This text followed by other's elements as they are.
    Derived operator+(const CQIRStringBase& other) const;

    // The byte form, emptied (and reported) when it does not have serializedSize() bytes.
    operator CQIRBuffer<unsigned char>() const override;
    // Reads the form at the front of `in` and removes it. Empty `in`: this string becomes
    // empty. On false neither this string nor `in` has changed.
    bool deserialize(CQIRBuffer<unsigned char>& in) override;
    // The element count and the five header bytes: the payload of either width has exactly
    // as many bytes as the string has elements.
    uint32_t serializedSize() const override;
    bool isEncrypted() const override { return false; }

  protected:
    CQIRStringBase() = default;
    CQIRStringBase(const CQIRStringBase&) = default;
    CQIRStringBase& operator=(const CQIRStringBase&) = default;

    enum class TextStep { kDone, kCopyFailed, kFlushFailed };
    // Makes this string the text of arbitrary elements: those before the first zero, and one
    // zero (no storage at all when that is the first element). Reports nothing itself.
    TextStep takeElements(const Char* pElements, uint32_t ulCount);

    enum class Relation { kLessEqual, kGreaterEqual, kLess, kGreater };
    bool relate(const CQIRStringBase& other, Relation relation) const;
    bool equalsIgnoringCase(const CQIRStringBase& other) const;
    uint32_t textLength() const;
    bool parseDouble(double& dValue) const;
    bool parseLong(int32_t& lValue, unsigned char ucRadix) const;
    bool mapCase(bool bToUpper);

    // The byte form around an 8-bit payload: format 1, its element count, its elements; empty
    // when its storage cannot be had (the buffer has reported).
    static CQIRBuffer<unsigned char> composeForm(const CQIRBuffer<char>& payloadText);

    // The text zero-terminated: the storage itself when it holds a zero, else a copy with one
    // appended, kept in `spare`; null when that copy cannot be had.
    const Char* terminatedText(CQIRBuffer<Char>& spare) const;

  private:
    // "CQIRStringBase<class CQIRStringMultiByte,char>::" or the wide class's.
    static const char* className();
};
