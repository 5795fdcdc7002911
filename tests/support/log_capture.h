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
        const std::string key = "Software\\Halvex\\Logs\\" + programName();
        registry() = std::make_unique<testreg::TempRegistry>(everythingTo(key, file()),
                                                             std::vector<std::string>{key});
        ASSERT_EQ(registry()->failure(), "");
    }

    // A configuration under `key` with one entry that writes every record to `target`.
    static std::string everythingTo(const std::string& key, const std::filesystem::path& target) {
        std::string escaped;
        for (char c : target.string()) {
            escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        return "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" + key +
               "\\Everything]\n\"Enabled\"=dword:00000001\n\"Detail\"=dword:ffffffff\n"
               "\"Type\"=dword:00000001\n\"Target\"=\"" +
               escaped + "\"\n";
    }

    void TearDown() override {
        registry().reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir(), ignored);
    }

    // The whole log so far as ASCII text, without the byte order mark.
    static std::string text() { return asciiText(file()); }

    // The lines appended since `mark` (a size of text()), as lines() shows them.
    static std::vector<std::string> linesSince(size_t mark) { return lines(text().substr(mark)); }

    // A UTF-16 log file as ASCII text, without its byte order mark; a unit beyond ASCII fails
    // the test.
    static std::string asciiText(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::string out;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            EXPECT_EQ(bytes[i + 1], 0) << "a unit beyond ASCII at " << i;
            out += bytes[i];
        }
        return out;
    }

    // The lines of a log's text, each without its "\r\n" and with the time field shown as TIME.
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find("\r\n", start);
            std::string line = text.substr(start, end == std::string::npos ? end : end - start);
            const size_t close = line.find('>');
            if (line.rfind('<', 0) == 0 && close != std::string::npos) {
                line = "<TIME" + line.substr(close);
            }
            out.push_back(line);
            if (end == std::string::npos) {
                break;
            }
            start = end + 2;
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
