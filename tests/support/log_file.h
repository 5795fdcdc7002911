// Reads back a log file that a text output wrote, as ASCII lines, with what a reader needs to
// tell a sound file from a damaged one: the byte order mark at its start, any mark elsewhere,
// and whether every line ended. The one reader of log files for the tests.
#pragma once

#include <algorithm>
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
    contents.exists = std::filesystem::exists(path, error);
    std::ifstream in(std::filesystem::is_regular_file(path, error) ? path : "", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const bool mark = bytes[i] == '\xFF' && bytes[i + 1] == '\xFE';
        contents.marks += mark;
        contents.ascii =
            contents.ascii &&
            (mark || (static_cast<unsigned char>(bytes[i]) < 0x80 && bytes[i + 1] == 0));
        text += mark ? "" : bytes.substr(i, 1);
    }
    contents.marked = bytes.rfind("\xFF\xFE", 0) == 0;
    contents.ended = bytes.size() % 2 == 0;
    for (size_t start = 0, end = 0; start < text.size(); start = end + 2) {
        end = std::min(text.find("\r\n", start), text.size());
        contents.ended = contents.ended && end < text.size();
        contents.lines.push_back(text.substr(start, end - start));
    }
    return contents;
}

// Whether the file is sound: one mark, at its start, then whole ASCII lines.
inline bool sound(const Contents& contents) {
    return contents.exists && contents.marked && contents.marks == 1 && contents.ended &&
           contents.ascii;
}

}  // namespace logfile
