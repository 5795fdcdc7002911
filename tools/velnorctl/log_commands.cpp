#include "log_commands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "log_config.h"
#include "log_show.h"

namespace {

const char* const kLogUsage =
    "usage: velnorctl log show FILE...|- [OPTIONS]\n"
    "       velnorctl log config [--app NAME]\n"
    "\n"
    "  show FILE...|- print log files (UTF-16) as UTF-8 text, a line a record; several files\n"
    "                 are merged into one timeline by the time of their lines; - reads\n"
    "                 standard input. OPTIONS:\n"
    "    --follow         then keep printing what is appended; a file truncated or replaced\n"
    "                     is shown again from its start\n"
    "    -n N             only the last N lines (with --follow: before what is appended)\n"
    "    --severity LIST  only these severities, e.g. error,warning\n"
    "    --since TIME     only lines from TIME on, local time: YYYY-MM-DD[THH:MM[:SS]]\n"
    "    --until TIME     only lines up to TIME (up to the end of its day or minute)\n"
    "    --app NAME       only lines of program NAME\n"
    "    --pid N          only lines of process N\n"
    "    --export NAME    only lines of function NAME (the part after ::)\n"
    "    --json           one JSON object a line (JSON Lines)\n"
    "    --with-file      each line begins with the name of its file and \": \"\n"
    "  config         show where the logging configuration comes from, where the vendor\n"
    "                 library would be loaded from, which key the logger of program NAME\n"
    "                 (default: velnorctl's own) would choose, and its outputs\n";

int usage(const char* message) {
    std::fprintf(stderr, "velnorctl: %s\n%s", message, kLogUsage);
    return kExitUsage;
}

}  // namespace

int logCommand(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[2], "config") == 0) {
        return logConfigCommand(argc, argv);
    }
    if (argc < 3 || wantsHelp(argc, argv, 2)) {
        if (argc < 3) {
            return usage("log takes show or config");
        }
        std::fputs(kLogUsage, stdout);
        return kExitOk;
    }
    const std::string verb = argv[2];
    if (verb == "show") {
        return logShow(argc, argv, 3, usage);
    }
    return usage(("unknown log command '" + verb + "': log takes show or config").c_str());
}
