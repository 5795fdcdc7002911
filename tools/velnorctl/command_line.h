// What every velnorctl command takes alike.
#pragma once

#include <cstring>

// Exit statuses: success; the library answered 0 or could not be loaded, a file could not be
// read or no log output will write; a usage error.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Whether --help or -h is among the arguments from `first` on.
inline bool wantsHelp(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return true;
        }
    }
    return false;
}
