// Files that tests place beside their own executable, and folders of their own.
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
        c = c == '/' || c == '\\' ? '_' : c;
    }
    return std::filesystem::temp_directory_path() / name;
}

// A copy of a file beside the test executable under a new name, removed when it goes.
struct PlacedFile {
    PlacedFile(const std::filesystem::path& from, const std::string& name)
        : path(executableDirectory() / name) {
        std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing);
    }
    ~PlacedFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    PlacedFile(const PlacedFile&) = delete;
    const std::filesystem::path path;
};

}  // namespace testpaths
