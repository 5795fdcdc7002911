// Files the benchmarks write, the bytes the text output appends for a record, and the floor of
// an append: what any program must do to append those bytes to a shared log file.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "qir_log_output.h"

inline std::string benchFile(const char* name) {
    return "/tmp/qir-bench-" + std::to_string(getpid()) + "-" + name + ".log";
}

// The line the output appends for the record, taken from a file it wrote.
inline std::vector<char> outputLine(const CQIRLogData& record) {
    const std::string path = benchFile("sample");
    CQIRLogOutputTextWindows().write(record, CQIRLogStringWChar(path.c_str()));
    std::vector<char> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        std::fclose(f);
    }
    std::remove(path.c_str());
    return bytes.size() > 2 ? std::vector<char>(bytes.begin() + 2, bytes.end())  // no mark
                            : std::vector<char>();
}

// The floor of one append: open, write, close, and between them the check that the file is a
// regular one (one fstat), without which a FIFO or a device named as the target would be
// written to. `checked` false leaves the check out, to show what it costs.
inline void appendFloor(const std::string& path, const std::vector<char>& line, bool checked) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    struct stat status {};
    if (!checked || (fstat(fd, &status) == 0 && S_ISREG(status.st_mode))) {
        if (write(fd, line.data(), line.size()) < 0) {
            std::perror("append floor");
        }
    }
    close(fd);
}
