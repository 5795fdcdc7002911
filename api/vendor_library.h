// The vendor library, SynCom, as the library loads it: its file names, the variable that names
// it on POSIX, and the registry value by which administrators name it on Windows. velnorctl
// takes the same, to show where the library would find it.
#pragma once

#include "qir_sys/library.h"

namespace velnor {

inline constexpr qir::sys::PluginName kSynComLibrary{
    "SynCom.DLL", "libSynCom.so", "SYNCOM_LIBRARY", "Software\\Halvex\\VelnorApi", "VendorLibrary"};

}  // namespace velnor
