// What the stress programs share: their count arguments, and reading a log file that many
// writers shared.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace stress {

// A count argument: a decimal number from 1 to 1000000.
inline bool parseCount(const char* text, int& out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value <= 0 || value > 1000000) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

struct LogText {
    std::vector<std::string> lines;  // without their CR LF; a unit out of place shows as '?'
    std::string problem;             // empty when the file is sound
};

// The file must start with its byte order mark, hold whole UTF-16 units, and no further mark
// or unit outside printable ASCII, CR and LF.
inline LogText readLog(const std::filesystem::path& path) {
    LogText result;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.problem = "cannot read " + path.u8string();
        return result;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE) {
        result.problem = "the file does not start with the byte order mark";
        return result;
    }
    if (bytes.size() % 2 != 0) {
        result.problem = "the file holds an odd number of bytes: " + std::to_string(bytes.size());
        return result;
    }
    std::string text;
    int strayMarks = 0;
    int strayUnits = 0;
    for (size_t i = 2; i < bytes.size(); i += 2) {
        const unsigned unit = static_cast<unsigned char>(bytes[i]) |
                              static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        strayMarks += unit == 0xFEFF ? 1 : 0;
        const bool plain = (unit >= 0x20 && unit < 0x7F) || unit == '\r' || unit == '\n';
        strayUnits += plain ? 0 : 1;
        text += plain ? static_cast<char>(unit) : '?';
    }
    size_t begin = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", begin)) {
        result.lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    if (strayMarks != 0 || strayUnits != 0 || begin != text.size()) {
        result.problem = std::to_string(strayMarks) + " byte order marks after the start, " +
                         std::to_string(strayUnits) + " other stray units" +
                         (begin != text.size() ? ", text after the last line end" : "");
    }
    return result;
}

}  // namespace stress
