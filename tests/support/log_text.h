// Builds UTF-16 log strings from ASCII without going through the classes' own conversions,
// and reads log strings of either width back as ASCII.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "qir_log_string.h"

namespace logtext {

// The units of a text of ASCII or UTF-16, and a terminator.
template <class Text>
std::vector<qir_wchar_t> units(const Text& text) {
    std::vector<qir_wchar_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

// A UTF-16 log string of ASCII text.
inline CQIRLogStringWChar w(const std::string& ascii) {
    return CQIRLogStringWChar(units(ascii).data());
}

// A path as the UTF-16 log string that the outputs take as their target.
inline CQIRLogStringWChar pathText(const std::filesystem::path& path) {
    return CQIRLogStringWChar(units(path.u16string()).data());
}

// The text up to the storage's first zero, each element as one char; "<empty>" without storage.
template <class S>
std::string ascii(const S& s) {
    std::string out = s.getBuffer() == nullptr ? "<empty>" : "";
    for (uint32_t i = 0; s.getBuffer() != nullptr && i < s.getSize() && s.getBuffer()[i] != 0;
         ++i) {
        out += static_cast<char>(s.getBuffer()[i]);
    }
    return out;
}

}  // namespace logtext
