// velnorctl: reads and switches the touchpad's launch state and prints its registry key
// through VelnorApi, loaded at run time by name as a host application loads it.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VelnorApi.h"
#include "arguments.h"
#include "command_line.h"
#include "log_commands.h"
#include "qir_sys/library.h"
#include "status.h"
#include "text.h"

namespace {

constexpr int32_t kDefaultCapacity = 256;
constexpr int32_t kMaxCapacity = 1 << 20;

const char* const kUsage =
    "usage: velnorctl COMMAND [OPTIONS]\n"
    "\n"
    "Reads and switches the touchpad's two-finger double tap gesture (its launch state)\n"
    "through VelnorApi.\n"
    "\n"
    "commands:\n"
    "  get                    print the launch state: on or off\n"
    "  set on|off             switch the launch state and persist it\n"
    "  key [--capacity N]     print the touchpad's registry key, read into a buffer of\n"
    "                         N UTF-16 units (default 256)\n"
    "  log show FILE...|- [OPTIONS]\n"
    "                         print log files as UTF-8 text or JSON, merged by time\n"
    "  log config [--app NAME]\n"
    "                         show the logging configuration a program would get, and why\n"
    "                         an output will not write\n"
    "  status                 show which VelnorApi and vendor library are used, where the\n"
    "                         logging configuration comes from, and a verdict per output\n"
    "  help COMMAND, COMMAND --help\n"
    "                         help for one command\n"
    "  --version              print velnorctl's version, which is the release's\n"
    "\n"
    "exit status: 0 success, 1 the library answered 0, could not be loaded, a file could not\n"
    "be read or no log output will write, 2 usage error\n";

const char* const kGetUsage = "usage: velnorctl get\nprints on or off\n";
const char* const kSetUsage = "usage: velnorctl set on|off\nswitches the launch state\n";
const char* const kKeyUsage =
    "usage: velnorctl key [--capacity N]\n"
    "prints the touchpad's registry key; N is the buffer size in UTF-16 units (default 256)\n";

int usageError(const char* message, const char* usage) {
    std::fprintf(stderr, "velnorctl: %s\n%s", message, usage);
    return kExitUsage;
}

class Api {
  public:
    bool load() {
        const std::string name = qir::sys::libraryFileName("VelnorApi");
        uint32_t error = 0;
        std::string reason;
        m_library = qir::sys::openLibrary(name, error, &reason);
        if (!m_library) {
            std::fprintf(stderr, "velnorctl: cannot load %s: %s\n", name.c_str(), reason.c_str());
            return false;
        }
        get = reinterpret_cast<PFN_GetTouchpadLaunchState>(
            m_library.symbol("GetTouchpadLaunchState"));
        set = reinterpret_cast<PFN_SetTouchpadLaunchState>(
            m_library.symbol("SetTouchpadLaunchState"));
        key = reinterpret_cast<PFN_GetTouchpadRegistryKey>(
            m_library.symbol("GetTouchpadRegistryKey"));
        if (get == nullptr || set == nullptr || key == nullptr) {
            std::fprintf(stderr, "velnorctl: %s lacks an export\n", name.c_str());
            return false;
        }
        return true;
    }

    PFN_GetTouchpadLaunchState get = nullptr;
    PFN_SetTouchpadLaunchState set = nullptr;
    PFN_GetTouchpadRegistryKey key = nullptr;

  private:
    qir::sys::Library m_library;
};

int failed(const char* function) {
    std::fprintf(stderr, "velnorctl: %s failed\n", function);
    return kExitFailed;
}

int commandGet(int argc, char** argv) {
    if (wantsHelp(argc, argv, 2)) {
        std::fputs(kGetUsage, stdout);
        return kExitOk;
    }
    if (argc != 2) {
        return usageError("get takes no arguments", kGetUsage);
    }
    Api api;
    if (!api.load()) {
        return kExitFailed;
    }
    uint8_t state = 0;
    if (api.get(&state) != 1) {
        return failed("GetTouchpadLaunchState");
    }
    std::puts(state != 0 ? "on" : "off");
    return kExitOk;
}

int commandSet(int argc, char** argv) {
    if (wantsHelp(argc, argv, 2)) {
        std::fputs(kSetUsage, stdout);
        return kExitOk;
    }
    if (argc != 3 || (std::strcmp(argv[2], "on") != 0 && std::strcmp(argv[2], "off") != 0)) {
        return usageError("set takes on or off", kSetUsage);
    }
    Api api;
    if (!api.load()) {
        return kExitFailed;
    }
    if (api.set(std::strcmp(argv[2], "on") == 0 ? 1 : 0) != 1) {
        return failed("SetTouchpadLaunchState");
    }
    return kExitOk;
}

bool parseCapacity(const char* text, int32_t& capacity) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < INT32_MIN || value > kMaxCapacity) {
        return false;
    }
    capacity = static_cast<int32_t>(value);
    return true;
}

int commandKey(int argc, char** argv) {
    if (wantsHelp(argc, argv, 2)) {
        std::fputs(kKeyUsage, stdout);
        return kExitOk;
    }
    int32_t capacity = kDefaultCapacity;
    if (argc == 4 && std::strcmp(argv[2], "--capacity") == 0) {
        if (!parseCapacity(argv[3], capacity)) {
            return usageError("--capacity takes a whole number up to 1048576", kKeyUsage);
        }
    } else if (argc != 2) {
        return usageError("key takes only --capacity N", kKeyUsage);
    }
    Api api;
    if (!api.load()) {
        return kExitFailed;
    }
    // A capacity of 0 or less is passed on as it is; the library refuses it.
    std::vector<VelnorUtf16> buffer(capacity > 0 ? static_cast<size_t>(capacity) : 1, 0);
    if (api.key(buffer.data(), capacity) != 1) {
        return failed("GetTouchpadRegistryKey");
    }
    std::puts(utf16ToUtf8(buffer.data(), buffer.size()).c_str());
    return kExitOk;
}

int run(int argc, char** argv);

// `help COMMAND [WORDS]` is `COMMAND [WORDS] --help`.
int commandHelp(int argc, char** argv) {
    if (argc == 2) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    std::vector<char*> words{argv[0]};
    words.insert(words.end(), argv + 2, argv + argc);
    char help[] = "--help";
    words.push_back(help);
    words.push_back(nullptr);
    return run(static_cast<int>(words.size() - 1), words.data());
}

int run(int argc, char** argv) {
    if (argc < 2) {
        return usageError("no command", kUsage);
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (std::strcmp(command, "help") == 0) {
        return commandHelp(argc, argv);
    }
    if (std::strcmp(command, "--version") == 0) {
        std::printf("velnorctl %s\n", VELNOR_VERSION);
        return kExitOk;
    }
    if (std::strcmp(command, "get") == 0) {
        return commandGet(argc, argv);
    }
    if (std::strcmp(command, "set") == 0) {
        return commandSet(argc, argv);
    }
    if (std::strcmp(command, "key") == 0) {
        return commandKey(argc, argv);
    }
    if (std::strcmp(command, "log") == 0) {
        return logCommand(argc, argv);
    }
    if (std::strcmp(command, "status") == 0) {
        return statusCommand(argc, argv);
    }
    return usageError(("unknown command '" + std::string(command) + "'").c_str(), kUsage);
}

}  // namespace

// Nothing the commands throw (only std::bad_alloc can be) leaves the program.
int main(int argc, char** argv) try {
    std::vector<std::string> arguments = commandLineArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    return run(static_cast<int>(arguments.size()), pointers.data());
} catch (...) {
    std::fputs("velnorctl: out of memory\n", stderr);
    return kExitFailed;
}
