// Whether a library of a given file name is mapped into this process: a library that was
// unloaded must leave none of its code behind.
#pragma once

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fstream>
#endif

namespace testpaths {

inline bool moduleLoaded(const std::string& fileName) {
#if defined(_WIN32)
    return GetModuleHandleA(fileName.c_str()) != nullptr;
#else
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.size() > fileName.size() && line.compare(line.size() - fileName.size() - 1,
                                                          std::string::npos, "/" + fileName) == 0) {
            return true;
        }
    }
    return false;
#endif
}

}  // namespace testpaths
