#include "status.h"

#include <cstdio>
#include <string>

#include "command_line.h"
#include "log_config.h"
#include "qir_sys/library.h"

namespace {

const char* const kStatusUsage =
    "usage: velnorctl status\n"
    "shows which VelnorApi is loaded (its full path), which vendor library it would use, where\n"
    "the logging configuration comes from and, for each output of velnorctl's own key, whether\n"
    "it will write and why not; exit status 0 when VelnorApi can be loaded, else 1\n";

}  // namespace

int statusCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv, 2)) {
        std::fputs(kStatusUsage, stdout);
        return kExitOk;
    }
    if (argc != 2) {
        std::fprintf(stderr, "velnorctl: status takes no arguments\n%s", kStatusUsage);
        return kExitUsage;
    }
    // Loaded as a host loads it, so that the path is the one a host beside velnorctl gets.
    const std::string name = qir::sys::libraryFileName("VelnorApi");
    uint32_t error = 0;
    std::string reason;
    const qir::sys::Library library = qir::sys::openLibrary(name, error, &reason);
    if (library) {
        std::printf("library: %s\n", library.path().c_str());
    } else {
        std::printf("library: none\n");
        std::fprintf(stderr, "velnorctl: cannot load %s: %s\n", name.c_str(), reason.c_str());
    }
    printSources();
    printOutputs(ownProgramName(), false);
    return library ? kExitOk : kExitFailed;
}
