// Strings of either class made from ASCII and read back as element values, for tests that hold
// for both widths.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "buffer_values.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"

namespace strvals {

// The string of the ASCII text.
template <class S>
S make(const std::string& ascii);

template <>
inline CQIRStringMultiByte make<CQIRStringMultiByte>(const std::string& ascii) {
    return CQIRStringMultiByte(
        CQIRBuffer<char>(ascii.c_str(), static_cast<uint32_t>(ascii.size())));
}

template <>
inline CQIRStringWChar make<CQIRStringWChar>(const std::string& ascii) {
    return CQIRStringWChar(ascii.c_str());
}

// A string holding exactly these elements, whatever the text rules say.
template <class S, class Char>
S withElements(const bufvals::Values& values) {
    S s;
    static_cast<CQIRBuffer<Char>&>(s) = bufvals::make<Char>(values);
    return s;
}

template <class S>
std::string className();
template <>
inline std::string className<CQIRStringMultiByte>() {
    return "CQIRStringMultiByte";
}
template <>
inline std::string className<CQIRStringWChar>() {
    return "CQIRStringWChar";
}

// The elements as values: "[97 98 0]"; "[]" without storage.
template <class Char>
std::string show(const CQIRBuffer<Char>& buffer) {
    std::string text = "[";
    for (uint32_t v : bufvals::of(buffer)) {
        text += (text.size() > 1 ? " " : "") + std::to_string(v);
    }
    return text + "]";
}

// The elements before the first zero as ASCII, then the element count: "ab/3"; "/0" when empty.
template <class Char>
std::string text(const CQIRBuffer<Char>& buffer) {
    std::string out;
    for (uint32_t v : bufvals::of(buffer)) {
        if (v == 0) {
            break;
        }
        out += v < 128 ? static_cast<char>(v) : '?';
    }
    return out + "/" + std::to_string(buffer.getSize());
}

}  // namespace strvals
