// Expected log lines of the buffer and string reports, and runs of an operation whose lines
// are read back from the file that LogCapture configured. The thread's last-error value is
// set to kLastError before each run: the first record of a run carries it. A record after
// the first carries whatever the writing of the earlier ones left, so that field is shown as
// "CODE" for them, in the lines read and in the lines expected alike.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "log_capture.h"
#include "qir_sys/error.h"

namespace records {

constexpr uint32_t kLastError = 0x4D2;

struct Record {
    std::string severity;
    std::string function;
    std::string message;
    std::string task;
    std::string filePart;
    uint32_t line;
};

inline std::string maskCode(const std::string& line) {
    const std::string field = "<Return Code: ";
    const size_t at = line.find(field);
    if (at == std::string::npos) {
        return line;
    }
    const size_t end = line.find('>', at);
    return line.substr(0, at) + field + "CODE" + line.substr(end);
}

inline std::vector<std::string> linesOf(const std::vector<Record>& expected) {
    std::vector<std::string> lines;
    for (const Record& r : expected) {
        const std::string line = LogCapture::expectedLine(r.severity, r.function, r.message, r.task,
                                                          kLastError, r.filePart, r.line);
        lines.push_back(lines.empty() ? line : maskCode(line));
    }
    return lines;
}

// The lines appended since `mark`, codes after the first masked.
inline std::vector<std::string> appendedSince(size_t mark) {
    std::vector<std::string> lines = LogCapture::linesSince(mark);
    for (size_t i = 1; i < lines.size(); ++i) {
        lines[i] = maskCode(lines[i]);
    }
    return lines;
}

// Runs `op` and answers the lines it appended.
template <class Op>
std::vector<std::string> linesWhile(Op op) {
    const size_t mark = LogCapture::text().size();
    qir::sys::setLastError(kLastError);
    op();
    return appendedSince(mark);
}

// One run of a sweep: the lines appended while the n-th allocation failed (`fired` false when
// the operation made fewer than n allocations).
struct FailedRun {
    std::vector<std::string> lines;
    bool fired = false;
};

// Runs `op` with the n-th allocation of this thread failing. `op` should touch nothing but the
// object under test; set-up and checks stay outside.
template <class Op>
FailedRun failingRun(uint64_t n, Op op) {
    FailedRun run;
    const size_t mark = LogCapture::text().size();
    {
        qir::sys::setLastError(kLastError);
        allocseam::Failing failing(n);
        op();
        run.fired = failing.fired();
    }
    run.lines = appendedSince(mark);
    return run;
}

// --- the records of the buffer and string classes ---

inline std::string allocMessage(uint32_t size) {
    return "Unable to allocate memory ( m_pBuffer ) of size ( " + std::to_string(size) + " )";
}

inline Record bufferRecord(const std::string& element, const std::string& operation,
                           const std::string& severity, const std::string& message,
                           const std::string& task, uint32_t line) {
    return Record{
        severity, "CQIRBuffer<" + element + ">::" + operation, message, task, "qir_buffer.h", line};
}

inline Record allocFailed(const std::string& element, uint32_t size) {
    return bufferRecord(element, "alloc", "EXCEPTION", allocMessage(size), "GenericAlloc", 900);
}
inline Record allocDestroyFailed(const std::string& element) {
    return bufferRecord(element, "alloc", "EXCEPTION", "Unable to free memory before allocation",
                        "MemoryAllocation", 919);
}
inline Record countConstructionFailed(const std::string& element) {
    return bufferRecord(element, "CQIRBuffer", "EXCEPTION",
                        "Unable to allocate memory for construction", "Construction", 450);
}
inline Record rawConstructionFailed(const std::string& element) {
    return bufferRecord(element, "CQIRBuffer", "EXCEPTION",
                        "Unable to allocate memory for construction", "Construction", 472);
}
inline Record assignmentFailed(const std::string& element) {
    return bufferRecord(element, "operator =", "EXCEPTION",
                        "Unable to allocate memory for assignment", "Assignment", 507);
}
inline Record appendFailed(const std::string& element) {
    return bufferRecord(element, "operator +=", "EXCEPTION", "Unable to append buffer",
                        "Operator+=", 561);
}
inline Record castWideFailed(const std::string& element) {
    return bufferRecord(element, "operator class CQIRBuffer<wchar_t>", "EXCEPTION",
                        "Unable to allocate memory for conversion", "CastWChar", 737);
}
inline Record writeOutside(const std::string& element) {
    return bufferRecord(element, "write", "EXCEPTION",
                        "Couldn't write buffer because the offset to write at it outside of it's "
                        "boundaries.",
                        "Write", 1414);
}
inline Record readOutside(uint32_t line) {
    return bufferRecord("unsigned char", "read", "EXCEPTION",
                        "A bad argument was provided ( ulOffset ). Not within buffer boundaries.",
                        "Read", line);
}
inline Record readByteOutside() {
    return readOutside(1196);
}
inline Record readValueOutside() {
    return readOutside(1316);
}
inline Record readBlockOutside() {
    return bufferRecord("unsigned char", "read", "EXCEPTION",
                        "Unable to read the requested number of elements because it would cause "
                        "an underflow.",
                        "Read", 1128);
}
inline Record readNothing() {
    return bufferRecord("unsigned char", "read", "WARNING",
                        "Trying to read 0 items from this buffer", "Read", 1133);
}

inline Record stringRecord(const std::string& function, const std::string& message,
                           const std::string& task, const std::string& filePart, uint32_t line) {
    return Record{"EXCEPTION", function, message, task, filePart, line};
}

}  // namespace records
