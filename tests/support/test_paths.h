// Files that tests place beside their own executable.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "qir_sys/process.h"

namespace testpaths {

inline std::filesystem::path executableDirectory() {
    return std::filesystem::u8path(qir::sys::executablePath()).parent_path();
}

// A folder name for the running test alone: the prefix, the process id and the test's name.
inline std::filesystem::path scratchDirectory(const std::string& prefix) {
    std::string name = prefix + "-" + std::to_string(qir::sys::processId()) + "-" +
                       testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
        if (c == '/' || c == '\\') {
            c = '_';
        }
    }
    return std::filesystem::temp_directory_path() / name;
}

// Copies a file beside the test executable under a new name and removes it when it goes.
class PlacedFile {
  public:
    PlacedFile(const std::filesystem::path& from, const std::string& name)
        : m_path(executableDirectory() / name) {
        std::filesystem::copy_file(from, m_path, std::filesystem::copy_options::overwrite_existing);
    }
    ~PlacedFile() {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    PlacedFile(const PlacedFile&) = delete;
    PlacedFile& operator=(const PlacedFile&) = delete;

  private:
    std::filesystem::path m_path;
};

}  // namespace testpaths
