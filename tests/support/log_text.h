// Builds log strings of either width from ASCII without going through the classes' own
// conversions, and reads them back as ASCII, for tests that hold for both widths.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "qir_log_string.h"

namespace logtext {

inline std::vector<qir_wchar_t> units(const std::string& ascii) {
    std::vector<qir_wchar_t> out(ascii.begin(), ascii.end());
    out.push_back(0);
    return out;
}

template <class S>
S make(const std::string& ascii);

template <>
inline CQIRLogStringMultiByte make<CQIRLogStringMultiByte>(const std::string& ascii) {
    return CQIRLogStringMultiByte(ascii.c_str());
}

template <>
inline CQIRLogStringWChar make<CQIRLogStringWChar>(const std::string& ascii) {
    return CQIRLogStringWChar(units(ascii).data());
}

// A UTF-16 log string of ASCII text.
inline CQIRLogStringWChar w(const std::string& ascii) {
    return make<CQIRLogStringWChar>(ascii);
}

// A path as the UTF-16 log string that the outputs take as their target.
inline CQIRLogStringWChar pathText(const std::filesystem::path& path) {
    const std::u16string text = path.u16string();
    std::vector<qir_wchar_t> out(text.begin(), text.end());
    out.push_back(0);
    return CQIRLogStringWChar(out.data());
}

// The text up to the storage's first zero, each element as one char; "<empty>" without storage.
template <class S>
std::string ascii(const S& s) {
    if (s.getBuffer() == nullptr) {
        return "<empty>";
    }
    std::string out;
    for (uint32_t i = 0; i < s.getSize() && s.getBuffer()[i] != 0; ++i) {
        out += static_cast<char>(s.getBuffer()[i]);
    }
    return out;
}

}  // namespace logtext
