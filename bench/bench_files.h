// Files the benchmarks write, and the bytes the text output appends for a record.
#pragma once

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
