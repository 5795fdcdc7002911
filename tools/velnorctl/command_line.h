// What every velnorctl command takes alike.
#pragma once

#include <cstring>

// Whether --help or -h is among the arguments from `first` on.
inline bool wantsHelp(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return true;
        }
    }
    return false;
}
