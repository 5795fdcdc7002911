// CQIRSerialObject: the interface of an object that has a byte form and can be read back from
// one. Forms are read from the front of a byte buffer and consumed, so that several objects
// stored one after another come back in order.
#pragma once

#include <cstdint>

#include "qir_buffer.h"

class CQIRSerialObject {
  public:
    virtual ~CQIRSerialObject() = default;
    // The byte form, checked against serializedSize().
    virtual operator CQIRBuffer<unsigned char>() const = 0;
    // Replaces this object by the form at the front of `in` and removes that form from `in`.
    virtual bool deserialize(CQIRBuffer<unsigned char>& in) = 0;
    virtual CQIRBuffer<unsigned char> serialize() const = 0;
    // The byte count serialize() gives.
    virtual uint32_t serializedSize() const = 0;
    // Whether the form is compressed or encrypted; neither is offered by any object yet.
    virtual bool isCompressed() const { return false; }
    virtual bool isEncrypted() const = 0;

  protected:
    CQIRSerialObject() = default;
    CQIRSerialObject(const CQIRSerialObject&) = default;
    CQIRSerialObject& operator=(const CQIRSerialObject&) = default;
};
