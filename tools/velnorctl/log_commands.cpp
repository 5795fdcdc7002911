#include "log_commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "log_show.h"
#include "qir_log_config.h"
#include "qir_log_data.h"
#include "qir_logger.h"
#include "qir_sys/process.h"
#include "qir_sys/registry.h"
#include "text.h"
#include "vendor_library.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

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

std::string text(const CQIRLogStringWChar& s) {
    return s.getBuffer() == nullptr ? std::string() : utf16ToUtf8(s.getBuffer(), s.length());
}

// --- log config ---

std::string severities(uint32_t mask) {
    std::string names;
    for (uint32_t bit = 0; bit < 11; ++bit) {
        if ((mask & (1u << bit)) != 0) {
            const qir_wchar_t* name = qirSeverityName(1u << bit);
            size_t length = 0;
            while (name[length] != 0) {
                ++length;
            }
            names += (names.empty() ? "" : ", ") + utf16ToUtf8(name, length);
        }
    }
    return names.empty() ? "none (only records of severity 0)" : names;
}

std::string listText(const CQIRLogStringWChar& list, const char* whenEmpty) {
    return list.length() == 0 ? whenEmpty : text(list);
}

int config(const std::string& application) {
    std::printf("configuration: %s\n", qir::sys::registrySource().c_str());
    const qir::sys::PluginSource vendor = qir::sys::pluginSource(velnor::kSynComLibrary);
    std::printf("vendor library: %s (%s)\n", vendor.path.empty() ? "none" : vendor.path.c_str(),
                vendor.reason.c_str());
    std::printf("application: %s\n", application.c_str());
    // Names on the command line and from the file system are UTF-8, whatever the C runtime's
    // locale is.
    const std::vector<VelnorUtf16> units = utf8ToUtf16(application);
    const CQIRLogStringWChar name(reinterpret_cast<const qir_wchar_t*>(units.data()));
    CQIRLogConfigWindows configuration(name);
    const bool loaded = configuration.load();
    const std::string key = "HKEY_LOCAL_MACHINE\\" + text(configuration.getChosenKey());
    switch (configuration.getOutcome()) {
        case CQIRLogConfigWindows::Outcome::NoKey:
            std::printf(
                "logging: off: neither HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\%s nor "
                "HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\Default exists\n",
                application.c_str());
            return kExitOk;
        case CQIRLogConfigWindows::Outcome::KeyUnreadable:
            std::printf("logging: off: %s cannot be read (error %u)\n", key.c_str(),
                        configuration.getError());
            return kExitOk;
        case CQIRLogConfigWindows::Outcome::NoSubkeys:
            std::printf("logging: off: %s has no subkeys, so no outputs\n", key.c_str());
            return kExitOk;
        case CQIRLogConfigWindows::Outcome::NoMemory:
        case CQIRLogConfigWindows::Outcome::NotLoaded:
            std::printf("logging: off: the configuration could not be read\n");
            return kExitFailed;
        case CQIRLogConfigWindows::Outcome::Loaded:
            break;
    }
    const CQIRLogConfigEntryList& entries = configuration.getEntries();
    std::printf("key: %s\n", key.c_str());
    std::printf("logging: %s, %u output%s\n", loaded ? "on" : "off", entries.getCount(),
                entries.getCount() == 1 ? "" : "s");
    for (uint32_t i = 0; i < entries.getCount(); ++i) {
        const CQIRLogConfigEntry& e = entries.getEntries()[i];
        if (!e.m_bEnabled) {
            std::printf("output %u: disabled\n", i);
            continue;
        }
        std::printf("output %u: enabled\n", i);
        std::printf("  detail: 0x%08x: %s\n", e.m_ulDetail, severities(e.m_ulDetail).c_str());
        std::printf("  type: %u%s\n", e.m_ulType,
                    e.m_ulType == 1 ? " (text file)" : " (no such output: records are lost)");
        std::printf("  target: %s\n", listText(e.m_strTarget, "(none)").c_str());
        if (e.m_bSeparateThreads) {
            std::printf("  one file per thread: %s\n",
                        text(qirPerThreadFileName(e.m_strTarget, CQIRLogStringWChar("<thread id>")))
                            .c_str());
        }
        std::printf("  allow objects: %s\n", listText(e.m_strAllowObjects, "(all)").c_str());
        std::printf("  exclude objects: %s\n", listText(e.m_strExcludeObjects, "(none)").c_str());
        std::printf("  allow applications: %s\n",
                    listText(e.m_strAllowApplications, "(all)").c_str());
        std::printf("  exclude applications: %s\n",
                    listText(e.m_strExcludeApplications, "(none)").c_str());
    }
    return kExitOk;
}

// The program's own executable file name, as the logger names a program.
std::string ownName() {
    const std::string path = qir::sys::executablePath();
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int logCommand(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[2], "--help") == 0 || std::strcmp(argv[2], "-h") == 0) {
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
    if (verb == "config") {
        if (argc == 3) {
            return config(ownName());
        }
        if (argc == 5 && std::strcmp(argv[3], "--app") == 0 && argv[4][0] != '\0') {
            return config(argv[4]);
        }
        return usage("log config takes only --app NAME");
    }
    return usage("log takes show or config");
}
