// A program that links the core and reports at the moments of a process's life that are hard on
// a library: from its own static initialisation (HOST_EARLY set), at exit() while its other
// threads report ("exit N": after N % 4 ms), from the child of a fork() made by a thread that knew
// its own id while another thread held the logger's set-up lock ("fork", which prints the child's
// process id, also the id of the child's one thread), and after it removed its own executable
// ("unlink", from a path of any length). Every report is the line "<MODE>" from "::host".
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
        qirLibrary().initLock.lock(0xFFFFFFFF);
        pid_t child = 0;
        std::thread([&child] {
            qir::sys::threadId();  // known to this thread before it forks
            if ((child = fork()) == 0) {
                alarm(10);                      // a child that hangs ends with SIGALRM
                _exit(report("fork") ? 0 : 1);  // this thread is all the child has
            }
        }).join();
        int status = 1;
        waitpid(child, &status, 0);
        qirLibrary().initLock.unlock();  // a mutex is never destroyed while held
        std::printf("%d\n", static_cast<int>(child));
        return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
    }
#endif
    return mode.empty() || report(mode.c_str()) ? 0 : 1;
}
