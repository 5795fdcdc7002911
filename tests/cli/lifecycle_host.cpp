// A program that links the core and reports at the moments of a process's life that are hard on
// a library: from its own static initialisation (HOST_EARLY set), at exit() while its other
// threads report ("exit N": after N % 4 ms), from the children of forks ("fork N", below), and
// after it removed its own executable ("unlink", from a path of any length). Every report is the
// line "<MODE>" from "::host".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "qir_library.h"
#include "qir_log.h"
#include "qir_sys/process.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>

#include "VelnorApi.h"
#endif

static bool report(const char* what) {
    return CQIRLogError().log(CQIRLogStringWChar(what), CQIRLogStringWChar("host"),
                              CQIRLogStringWChar("::host"), CQIRLogStringWChar("host"), 1, 0,
                              nullptr, 0);
}

// Runs before main, in whatever order the toolchain starts this file's objects and the core's.
const bool g_early = std::getenv("HOST_EARLY") != nullptr && report("static");

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit") {
        for (int i = 0; i < 4; ++i) {
            std::thread([] {
                for (;;) {
                    report("exit");
                }
            }).detach();
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(argc > 2 ? std::atoi(argv[2]) % 4 : 0));
        std::exit(0);
    }
    if (mode == "unlink" && std::remove(argv[0]) != 0) {
        return 3;
    }
#if !defined(_WIN32)
    if (mode == "fork") {
        // N rounds of a process whose thread makes its first export call (loading the vendor
        // library, setting the logger up, reporting) while its main thread, which knows its own
        // id, forks after 0 to 40 ms; the child calls the export, reports and ends with exit(),
        // which tears the library down in the child. A child that hangs ends by SIGALRM. Prints the
        // last child's process id (also its thread's); the exit status is the number of rounds that
        // failed.
        const int rounds = argc > 2 ? std::atoi(argv[2]) : 1;
        int failed = 0;
        for (int round = 0; round < rounds; ++round) {
            const pid_t worker = fork();
            if (worker == 0) {
                unsigned char state = 0;
                std::thread first([&state] { GetTouchpadLaunchState(&state); });
                // Most moments early, where the first call runs.
                const double at = static_cast<double>(round) / rounds;
                std::this_thread::sleep_for(
                    std::chrono::microseconds(static_cast<int>(40000 * at * at * at)));
                qir::sys::threadId();
                const pid_t child = fork();
                if (child == 0) {
                    alarm(5);
                    GetTouchpadLaunchState(&state);
                    report("fork");
                    std::exit(0);
                }
                first.join();
                int status = 1;
                waitpid(child, &status, 0);
                if (round == rounds - 1) {
                    std::printf("%d\n", static_cast<int>(child));
                    std::fflush(stdout);
                }
                std::exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
            }
            int status = 1;
            waitpid(worker, &status, 0);
            failed += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
        }
        return failed;
    }
#endif
    return mode.empty() || report(mode.c_str()) ? 0 : 1;
}
