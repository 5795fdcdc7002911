// Builds log strings of either width from ASCII without going through the classes' own
// conversions, and reads them back as ASCII, for tests that hold for both widths.
#pragma once

#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "qir_log_string.h"

namespace logtext {

inline std::vector<qir_wchar_t> units(const std::string& ascii) {
    std::vector<qir_wchar_t> out(ascii.begin(), ascii.end());
    out.push_back(0);
    return out;
}

template <class S>
S make(const std::string& ascii) {
    if constexpr (std::is_same_v<S, CQIRLogStringWChar>) {
        return S(units(ascii).data());
    } else {
        return S(ascii.c_str());
    }
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
    std::string out = s.getBuffer() == nullptr ? "<empty>" : "";
    for (uint32_t i = 0; s.getBuffer() != nullptr && i < s.getSize() && s.getBuffer()[i] != 0;
         ++i) {
        out += static_cast<char>(s.getBuffer()[i]);
    }
    return out;
}

}  // namespace logtext
