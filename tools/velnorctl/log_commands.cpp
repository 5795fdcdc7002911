#include "log_commands.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

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
    "usage: velnorctl log show FILE [--follow]\n"
    "       velnorctl log config [--app NAME]\n"
    "\n"
    "  show FILE      print a log file (UTF-16 with byte order mark) as UTF-8 text, a line a\n"
    "                 record; --follow keeps printing the lines appended to it\n"
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

// --- log show ---

// Prints the UTF-16LE bytes [begin, end) as one line of UTF-8 text.
void printLine(const std::string& bytes, size_t begin, size_t end) {
    std::vector<VelnorUtf16> units;
    for (size_t k = begin; k + 1 < end; k += 2) {
        units.push_back(static_cast<VelnorUtf16>(static_cast<unsigned char>(bytes[k]) |
                                                 static_cast<unsigned char>(bytes[k + 1]) << 8));
    }
    const std::string line = utf16ToUtf8(units.data(), units.size());
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

// Prints the complete lines from `offset` on and answers where the first incomplete one starts.
size_t printLines(const std::string& bytes, size_t offset) {
    size_t lineStart = offset;
    for (size_t i = offset; i + 3 < bytes.size(); i += 2) {
        if (bytes[i] == '\r' && bytes[i + 1] == 0 && bytes[i + 2] == '\n' && bytes[i + 3] == 0) {
            printLine(bytes, lineStart, i);
            lineStart = i + 4;
            i += 2;
        }
    }
    std::fflush(stdout);
    return lineStart;
}

bool readAll(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int show(const std::string& path, bool follow) {
    std::string bytes;
    if (!readAll(path, bytes)) {
        std::fprintf(stderr, "velnorctl: cannot read %s\n", path.c_str());
        return kExitFailed;
    }
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE || bytes.size() % 2 != 0) {
        std::fprintf(stderr,
                     "velnorctl: %s is not a log file: it does not hold UTF-16 text after the "
                     "byte order mark FF FE\n",
                     path.c_str());
        return kExitFailed;
    }
    size_t next = printLines(bytes, 2);
    if (!follow) {
        if (next < bytes.size()) {
            printLine(bytes, next, bytes.size());  // a last line without its line end
        }
        return kExitOk;
    }
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (!readAll(path, bytes)) {
            continue;  // gone for a moment: it comes back with the next record
        }
        if (bytes.size() < next) {
            next = 2;  // a new file under the same name
        }
        next = printLines(bytes, next);
    }
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
        bool follow = false;
        std::string file;
        for (int i = 3; i < argc; ++i) {
            if (std::strcmp(argv[i], "--follow") == 0) {
                follow = true;
            } else if (file.empty() && argv[i][0] != '-') {
                file = argv[i];
            } else {
                return usage("log show takes FILE and --follow");
            }
        }
        return file.empty() ? usage("log show needs a FILE") : show(file, follow);
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
