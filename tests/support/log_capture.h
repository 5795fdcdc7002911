// Configures the library-wide logger of a test program, before its first report, to write
// every record to a log file of this process alone, and reads back the lines that reports
// appended. Register it once per program: testing::AddGlobalTestEnvironment(new LogCapture).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "qir_sys/process.h"
#include "temp_registry.h"

class LogCapture : public testing::Environment {
  public:
    // The executable's file name: the name the logger finds its configuration under.
    static std::string programName() {
        return std::filesystem::u8path(qir::sys::executablePath()).filename().u8string();
    }

    void SetUp() override {
        dir() = std::filesystem::temp_directory_path() /
                ("qir-capture-" + std::to_string(qir::sys::processId()));
        std::filesystem::create_directories(dir());
        file() = dir() / "capture.log";
        std::string target;
        for (char c : file().string()) {
            target += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        const std::string key = "Software\\Halvex\\Logs\\" + programName();
        registry() = std::make_unique<testreg::TempRegistry>(
            "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" + key +
                "\\Everything]\n\"Enabled\"=dword:00000001\n\"Detail\"=dword:ffffffff\n"
                "\"Type\"=dword:00000001\n\"Target\"=\"" +
                target + "\"\n",
            std::vector<std::string>{key});
        ASSERT_EQ(registry()->failure(), "");
    }

    void TearDown() override {
        registry().reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir(), ignored);
    }

    // The whole log so far as ASCII text, without the byte order mark; a unit beyond ASCII
    // fails the test.
    static std::string text() {
        std::ifstream in(file(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::string out;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            EXPECT_EQ(bytes[i + 1], 0) << "a unit beyond ASCII at " << i;
            out += bytes[i];
        }
        return out;
    }

    // The lines appended since `mark` (a size of text()), each without its "\r\n" and with the
    // time field shown as TIME.
    static std::vector<std::string> linesSince(size_t mark) {
        const std::string added = text().substr(mark);
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < added.size()) {
            const size_t end = added.find("\r\n", start);
            std::string line = added.substr(start, end == std::string::npos ? end : end - start);
            const size_t close = line.find('>');
            if (line.rfind('<', 0) == 0 && close != std::string::npos) {
                line = "<TIME" + line.substr(close);
            }
            lines.push_back(line);
            if (end == std::string::npos) {
                break;
            }
            start = end + 2;
        }
        return lines;
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
    static std::filesystem::path& dir() {
        static std::filesystem::path value;
        return value;
    }
    static std::filesystem::path& file() {
        static std::filesystem::path value;
        return value;
    }
    static std::unique_ptr<testreg::TempRegistry>& registry() {
        static std::unique_ptr<testreg::TempRegistry> value;
        return value;
    }
};
