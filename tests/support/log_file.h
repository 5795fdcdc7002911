// Reads back a UTF-16LE log file as UTF-8 text and lines, with what tells a sound file from a
// damaged one: the byte order mark at its start, any mark elsewhere, and whether every line
// ended. The one reader of log files for the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qir_sys/utf8.h"

namespace logfile {

struct Contents {
    bool exists = false;
    bool marked = false;             // begins with FF FE
    int marks = 0;                   // FF FE units anywhere in the file
    bool ended = true;               // the text after the mark is whole lines, each ended by "\r\n"
    bool ascii = true;               // every unit after the mark is ASCII
    std::string text;                // the units as UTF-8, without the marks
    std::vector<std::string> lines;  // the text's lines, without their "\r\n"
};

inline Contents read(const std::filesystem::path& path) {
    Contents contents;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return contents;
    }
    contents.exists = true;
    if (std::filesystem::is_directory(path, error)) {
        return contents;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto unit = [&bytes](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t value = unit(i);
        if (value == 0xFEFF) {
            ++contents.marks;
            contents.marked = contents.marked || i == 0;
            continue;
        }
        contents.ascii = contents.ascii && value < 0x80;
        const uint32_t low = i + 3 < bytes.size() ? unit(i + 2) : 0;
        if (value >= 0xD800 && value < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
            value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        qir::sys::appendUtf8(contents.text, value);
    }
    contents.ended = bytes.size() % 2 == 0;
    for (size_t start = 0; start < contents.text.size();) {
        const size_t end = contents.text.find("\r\n", start);
        contents.lines.push_back(contents.text.substr(start, end - start));
        contents.ended = contents.ended && end != std::string::npos;
        start = end == std::string::npos ? end : end + 2;
    }
    return contents;
}

// Whether the file is sound: one mark, at its start, then whole ASCII lines.
inline bool sound(const Contents& contents) {
    return contents.exists && contents.marked && contents.marks == 1 && contents.ended &&
           contents.ascii;
}

}  // namespace logfile
