// One host process of a multi-process run of failing exports, and the check of the log files
// such runs leave.
//   velnor_export_stress run THREADS CALLS
//       loads VelnorApi and the scripted vendor library from beside this program, scripts the
//       vendor to fail, and has each of THREADS threads call each export CALLS times
//   velnor_export_stress verify DIR PROCESSES THREADS CALLS
//       checks DIR/shared.log and the per-thread files DIR/thread_<id>.log
// Exit status 0 when all went well, 1 when not, 2 on a usage error.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "VelnorApi.h"
#include "fake_vendor_module.h"
#include "qir_sys/library.h"
#include "qir_sys/process.h"
#include "stress_tools.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t kFail = static_cast<int32_t>(0x80004005);

// What each export reports when the vendor fails as run() scripts it.
struct Expected {
    const char* function;
    const char* message;
    const char* line;
};
const Expected kExpected[] = {
    {"GetTouchpadLaunchState",
     "could not get property for SP_HasTwoFingerDoubleTap, hResult = 0x80004005", "142"},
    {"SetTouchpadLaunchState",
     "could not get property for SP_HasTwoFingerDoubleTap, hResult = 0x80004005", "229"},
    {"GetTouchpadRegistryKey",
     "could not get string property for the registry key (0x10000603), hResult = 0x80004005", "54"},
};

int run(int threads, int calls) {
    const fs::path dir = fs::u8path(qir::sys::executablePath()).parent_path();
    uint32_t error = 0;
    qir::sys::Library vendor =
        qir::sys::openLibrary((dir / qir::sys::libraryFileName("SynCom")).u8string(), error);
    qir::sys::Library api =
        qir::sys::openLibrary((dir / qir::sys::libraryFileName("VelnorApi")).u8string(), error);
    if (!vendor || !api) {
        std::fprintf(stderr, "cannot load the libraries beside %s: error %u\n",
                     dir.u8string().c_str(), error);
        return 1;
    }
    auto reset = reinterpret_cast<FakeVendorResetFn>(vendor.symbol("FakeVendorReset"));
    auto get = reinterpret_cast<PFN_GetTouchpadLaunchState>(api.symbol("GetTouchpadLaunchState"));
    auto set = reinterpret_cast<PFN_SetTouchpadLaunchState>(api.symbol("SetTouchpadLaunchState"));
    auto key = reinterpret_cast<PFN_GetTouchpadRegistryKey>(api.symbol("GetTouchpadRegistryKey"));
    if (!reset || !get || !set || !key) {
        std::fprintf(stderr, "a function is missing\n");
        return 1;
    }
    fake::Script script;
    script.code[fake::kGetGesture] = kFail;
    script.code[fake::kGetKey] = kFail;
    reset(&script);

    std::vector<int> succeeded(static_cast<size_t>(threads), 0);
    std::vector<std::thread> callers;
    for (int t = 0; t < threads; ++t) {
        callers.emplace_back([&, t] {
            for (int n = 0; n < calls; ++n) {
                unsigned char state = 0;
                VelnorUtf16 text[64];
                succeeded[static_cast<size_t>(t)] += get(&state) + set(1) + key(text, 64);
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    for (int count : succeeded) {
        if (count != 0) {
            std::fprintf(stderr, "an export answered 1 against a failing vendor\n");
            return 1;
        }
    }
    return 0;
}

// A line's process id, thread id and export, with the export's index; false for a line that
// is not one of the expected reports.
bool parse(const std::string& line, std::tuple<std::string, std::string, int>& key) {
    static const std::regex pattern(
        "<[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}> <ERROR> "
        "<velnor_export_stress(\\.exe)? : ([0-9]+), ([0-9]+)> <::([A-Za-z]+)> <\"([^\"]*)\"> "
        "<While performing task: \"([A-Za-z]+)\"> <Return Code: 0x[0-9a-f]{8}> <VelnorApi> "
        "<([0-9]+)>");
    std::smatch match;
    if (!std::regex_match(line, match, pattern) || match[4] != match[6]) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        const Expected& e = kExpected[i];
        if (match[4] == e.function && match[5] == e.message && match[7] == e.line) {
            key = {match[2], match[3], i};
            return true;
        }
    }
    return false;
}

// Counts the lines of one file per (process, thread, export); answers false with a message
// for a file that is not sound or holds a line that is not an expected report.
bool count(const fs::path& file, std::map<std::tuple<std::string, std::string, int>, int>& counts,
           const std::string& onlyThread) {
    const stress::LogText log = stress::readLog(file);
    if (!log.problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", file.u8string().c_str(), log.problem.c_str());
        return false;
    }
    for (const std::string& line : log.lines) {
        std::tuple<std::string, std::string, int> key;
        if (!parse(line, key)) {
            std::fprintf(stderr, "%s: not a whole report: %s\n", file.u8string().c_str(),
                         line.c_str());
            return false;
        }
        if (!onlyThread.empty() && std::get<1>(key) != onlyThread) {
            std::fprintf(stderr, "%s: a line of thread %s\n", file.u8string().c_str(),
                         std::get<1>(key).c_str());
            return false;
        }
        ++counts[key];
    }
    return true;
}

// Every thread wrote `calls` lines for each export; a process id that came back for a later
// process shows as a multiple.
bool complete(const std::map<std::tuple<std::string, std::string, int>, int>& counts,
              const char* what, int processes, int threads, int calls) {
    int total[3] = {};
    std::set<std::pair<std::string, std::string>> callers;
    for (const auto& [key, n] : counts) {
        total[std::get<2>(key)] += n;
        callers.insert({std::get<0>(key), std::get<1>(key)});
        if (n % calls != 0) {
            std::fprintf(stderr, "%s: thread %s of process %s has %d lines of %s\n", what,
                         std::get<1>(key).c_str(), std::get<0>(key).c_str(), n,
                         kExpected[std::get<2>(key)].function);
            return false;
        }
    }
    const int expected = processes * threads * calls;
    for (int i = 0; i < 3; ++i) {
        if (total[i] != expected) {
            std::fprintf(stderr, "%s: %d lines of %s, expected %d\n", what, total[i],
                         kExpected[i].function, expected);
            return false;
        }
    }
    std::printf("%s: %d lines of each export from %zu threads, all whole\n", what, expected,
                callers.size());
    return true;
}

int verify(const fs::path& dir, int processes, int threads, int calls) {
    std::map<std::tuple<std::string, std::string, int>, int> shared;
    if (!count(dir / "shared.log", shared, "") ||
        !complete(shared, "shared file", processes, threads, calls)) {
        return 1;
    }
    std::map<std::tuple<std::string, std::string, int>, int> perThread;
    int files = 0;
    static const std::regex name("thread_([0-9]+)\\.log");
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string file = entry.path().filename().u8string();
        std::smatch match;
        if (file == "shared.log") {
            continue;
        }
        if (!std::regex_match(file, match, name)) {
            std::fprintf(stderr, "a file no entry names: %s\n", file.c_str());
            return 1;
        }
        ++files;
        if (!count(entry.path(), perThread, match[1])) {
            return 1;
        }
    }
    if (!complete(perThread, "per-thread files", processes, threads, calls)) {
        return 1;
    }
    std::printf("%d per-thread files\n", files);
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: velnor_export_stress run THREADS CALLS\n"
                 "       velnor_export_stress verify DIR PROCESSES THREADS CALLS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int processes = 0;
    int threads = 0;
    int calls = 0;
    if (argc == 4 && std::string(argv[1]) == "run" && stress::parseCount(argv[2], threads) &&
        stress::parseCount(argv[3], calls)) {
        return run(threads, calls);
    }
    if (argc == 6 && std::string(argv[1]) == "verify" && stress::parseCount(argv[3], processes) &&
        stress::parseCount(argv[4], threads) && stress::parseCount(argv[5], calls)) {
        return verify(fs::u8path(argv[2]), processes, threads, calls);
    }
    return usage();
}
