// Configures the library-wide logger of a test program, before its first report, to write
// every record to a log file of this process alone, and reads back the lines that reports
// appended. Register it once per program: testing::AddGlobalTestEnvironment(new LogCapture).
// Its static helpers serve tests that set up configurations of their own as well.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "log_file.h"
#include "qir_sys/process.h"
#include "temp_registry.h"

class LogCapture : public testing::Environment {
  public:
    // The executable's file name: the name the logger finds its configuration under.
    static std::string programName() {
        return std::filesystem::u8path(qir::sys::executablePath()).filename().u8string();
    }

    void SetUp() override {
        std::filesystem::create_directories(file().parent_path());
        const std::string key = "Software\\Halvex\\Logs\\" + programName();
        m_registry = std::make_unique<testreg::TempRegistry>(everythingTo(key, file()),
                                                             std::vector<std::string>{key});
        // A program that cannot capture its lines checks nothing: it fails here, where a failed
        // assertion would have every test reported as skipped.
        if (!m_registry->failure().empty()) {
            std::fprintf(stderr, "%s\n", m_registry->failure().c_str());
            std::exit(1);
        }
    }

    void TearDown() override {
        m_registry.reset();
        std::filesystem::remove_all(file().parent_path());
    }

    // The .reg section of an output `key` (below HKEY_LOCAL_MACHINE) that writes every record
    // to `target`, then the .reg value lines `values`, which replace those before them.
    static std::string output(const std::string& key, const std::filesystem::path& target,
                              const std::string& values = "") {
        std::string text = "[HKEY_LOCAL_MACHINE\\" + key +
                           "]\n\"Enabled\"=dword:00000001\n\"Detail\"=dword:ffffffff\n"
                           "\"Type\"=dword:00000001\n\"Target\"=\"";
        for (char c : target.string()) {
            text += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        return text + "\"\n" + values;
    }

    // A whole .reg file: a configuration under `key` with one entry that writes every record
    // to `target`.
    static std::string everythingTo(const std::string& key, const std::filesystem::path& target) {
        return "Windows Registry Editor Version 5.00\n\n" + output(key + "\\Everything", target);
    }

    // The number of lines in the log so far: a mark for linesSince.
    static size_t mark() { return lines(file()).size(); }

    // The lines appended since `mark`, as lines() shows them.
    static std::vector<std::string> linesSince(size_t mark) {
        std::vector<std::string> all = lines(file());
        all.erase(all.begin(), all.begin() + std::min(mark, all.size()));
        return all;
    }

    // A log file's lines, each without its "\r\n" and with the time field shown as TIME, read
    // with the tests' one log-file reader. A unit beyond ASCII fails the test.
    static std::vector<std::string> lines(const std::filesystem::path& path) {
        const logfile::Contents contents = logfile::read(path);
        EXPECT_TRUE(contents.ascii) << path;
        std::vector<std::string> out;
        for (const std::string& line : contents.lines) {
            const size_t close = line.find('>');
            const bool timed = line.rfind('<', 0) == 0 && close != std::string::npos;
            out.push_back(timed ? "<TIME" + line.substr(close) : line);
        }
        return out;
    }

    // The line a report of this thread makes, as linesSince shows it.
    static std::string expectedLine(const std::string& severity, const std::string& function,
                                    const std::string& message, const std::string& task,
                                    uint32_t returnCode, const std::string& filePart,
                                    uint32_t line) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", returnCode);
        return "<TIME> <" + severity + "> <" + programName() + " : " +
               std::to_string(qir::sys::processId()) + ", " + std::to_string(qir::sys::threadId()) +
               "> <" + function + "> <\"" + message + "\"> <While performing task: \"" + task +
               "\"> <Return Code: " + code + "> <" + filePart + "> <" + std::to_string(line) + ">";
    }

  private:
    static std::filesystem::path file() {
        return std::filesystem::temp_directory_path() /
               ("qir-capture-" + std::to_string(qir::sys::processId())) / "capture.log";
    }

    std::unique_ptr<testreg::TempRegistry> m_registry;
};
