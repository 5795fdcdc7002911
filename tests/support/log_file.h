// Reads back a log file that a text output wrote, as ASCII lines, with what a reader needs to
// tell a sound file from a damaged one: the byte order mark at its start, any mark elsewhere,
// and whether every line ended.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace logfile {

struct Contents {
    bool exists = false;
    bool marked = false;             // begins with FF FE
    int marks = 0;                   // FF FE units anywhere in the file
    bool ended = true;               // the text after the mark is whole lines, each ended by "\r\n"
    bool ascii = true;               // every unit after the mark is ASCII
    std::vector<std::string> lines;  // without their "\r\n"
};

inline Contents read(const std::filesystem::path& path) {
    Contents contents;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return contents;
    }
    contents.exists = true;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto low = static_cast<unsigned char>(bytes[i]);
        const auto high = static_cast<unsigned char>(bytes[i + 1]);
        if (low == 0xFF && high == 0xFE) {
            ++contents.marks;
            contents.marked = contents.marked || i == 0;
            continue;
        }
        if (high != 0 || low >= 0x80) {
            contents.ascii = false;
        }
        text += static_cast<char>(low);
    }
    if (bytes.size() % 2 != 0) {
        contents.ended = false;
    }
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            contents.ended = false;
            contents.lines.push_back(text.substr(start));
            break;
        }
        contents.lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return contents;
}

// Whether the file is sound: one mark, at its start, then whole ASCII lines.
inline bool sound(const Contents& contents) {
    return contents.exists && contents.marked && contents.marks == 1 && contents.ended &&
           contents.ascii;
}

}  // namespace logfile
