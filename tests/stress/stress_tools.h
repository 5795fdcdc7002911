// What the stress programs share: their count arguments, and reading a log file that many
// writers shared.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "log_file.h"

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
    std::vector<std::string> lines;  // without their CR LF
    std::string problem;             // empty when the file is sound
};

// The file must start with its byte order mark and hold no other, and whole ASCII lines.
inline LogText readLog(const std::filesystem::path& path) {
    const logfile::Contents contents = logfile::read(path);
    LogText result{contents.lines, ""};
    if (!contents.exists) {
        result.problem = "cannot read " + path.u8string();
    } else if (!logfile::sound(contents)) {
        result.problem = std::string(contents.marked ? "" : "no byte order mark at the start, ") +
                         std::to_string(contents.marks) + " byte order marks in all" +
                         (contents.ended ? "" : ", text after the last line end") +
                         (contents.ascii ? "" : ", units beyond ASCII");
    }
    return result;
}

}  // namespace stress
