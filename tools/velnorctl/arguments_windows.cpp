#include <algorithm>

#include "arguments.h"
#include "qir_win32.h"

// After windows.h, which it needs.
#include <shellapi.h>

using qir::sys::win32::narrow;
using qir::sys::win32::widen;

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    try {
        for (int i = 0; i < count; ++i) {
            arguments.push_back(narrow(wide[i]));
        }
    } catch (...) {
        LocalFree(wide);
        throw;
    }
    LocalFree(wide);
    return arguments;
}

void appendFileArgument(const std::string& argument, std::vector<std::string>& files) {
    const size_t cut = argument.find_last_of("\\/:");
    const size_t start = cut == std::string::npos ? 0 : cut + 1;
    const std::wstring pattern = widen(argument);
    WIN32_FIND_DATAW found{};
    HANDLE search = argument.find_first_of("*?", start) == std::string::npos || pattern.empty()
                        ? INVALID_HANDLE_VALUE
                        : FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        files.push_back(argument);
        return;
    }
    std::vector<std::string> names;
    try {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                names.push_back(argument.substr(0, start) + narrow(found.cFileName));
            }
        } while (FindNextFileW(search, &found));
    } catch (...) {
        FindClose(search);
        throw;
    }
    FindClose(search);
    if (names.empty()) {
        names.push_back(argument);
    }
    std::sort(names.begin(), names.end());
    files.insert(files.end(), names.begin(), names.end());
}
