#include "log_commands.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "log_config.h"
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
    return usage(("unknown log command '" + verb + "': log takes show or config").c_str());
}
