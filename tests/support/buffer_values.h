// Buffers of any element type made from and read back as lists of element values, for tests
// that hold for all three element types.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "qir_buffer.h"
#include "qir_types.h"

namespace bufvals {

using Values = std::vector<uint32_t>;

template <class T>
std::string elementName();
template <>
inline std::string elementName<char>() {
    return "char";
}
template <>
inline std::string elementName<qir_wchar_t>() {
    return "wchar_t";
}
template <>
inline std::string elementName<unsigned char>() {
    return "unsigned char";
}

template <class T>
CQIRBuffer<T> make(const Values& values) {
    std::vector<T> elements;
    for (uint32_t v : values) {
        elements.push_back(static_cast<T>(v));
    }
    return CQIRBuffer<T>(elements.data(), static_cast<uint32_t>(elements.size()));
}

// The element values (unsigned), after checking that storage and count agree.
template <class T>
Values of(const CQIRBuffer<T>& buffer) {
    EXPECT_EQ(buffer.getBuffer() == nullptr, buffer.getSize() == 0) << "storage and count disagree";
    Values values;
    for (uint32_t i = 0; i < buffer.getSize() && buffer.getBuffer() != nullptr; ++i) {
        values.push_back(static_cast<std::make_unsigned_t<T>>(buffer.getBuffer()[i]));
    }
    return values;
}

// A byte buffer claiming `count` elements over eight bytes of its own: counts near 2^32 for
// operations that must refuse them before touching a single element.
class ClaimedCount : public CQIRBuffer<unsigned char> {
  public:
    explicit ClaimedCount(uint32_t count) {
        m_pBuffer = m_storage;
        m_ulSize = count;
    }
    ~ClaimedCount() override {
        m_pBuffer = nullptr;
        m_ulSize = 0;
    }
    ClaimedCount(const ClaimedCount&) = delete;
    ClaimedCount& operator=(const ClaimedCount&) = delete;

  private:
    unsigned char m_storage[8] = {};
};

}  // namespace bufvals
