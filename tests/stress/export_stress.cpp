// A host process of the stress tests: `velnor_export_stress THREADS CALLS [PAUSE]` has THREADS
// threads at once each call every export CALLS times. Exit status 0 when every call answered 0,
// as the touchpad the test sets up makes them. CALLS 0: calls until the process is killed,
// deleting logs/shared.log before each round, so that new files are made all the time. PAUSE
// (in the host built with the library's objects, which the fault seam reaches): each thread
// sees a file system without unnamed files, hard links or renames, and pauses PAUSE ms after
// each file it creates.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include "VelnorApi.h"
#include "qir_sys/fault.h"

int main(int argc, char** argv) {
    using namespace qir::sys::fault;
    const int calls = std::atoi(argv[2]);
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int t = std::atoi(argv[1]); t > 0; --t) {
        threads.emplace_back([&] {
            std::optional<Failing> noUnnamed, noLink, noRename;
            std::optional<Pausing> paused;
            if (argc > 3) {
                noUnnamed.emplace(Site::FileUnnamed, 0, 50);
                noLink.emplace(Site::FileLink, 0, 50);
                noRename.emplace(Site::FileRename, 0, 50);
                paused.emplace(Site::FileCreate, std::atoi(argv[3]));
            }
            for (int n = 0; calls == 0 || n < calls; ++n) {
                if (calls == 0) {
                    std::remove("logs/shared.log");
                }
                uint8_t state = 0;
                VelnorUtf16 key[64];
                succeeded += GetTouchpadLaunchState(&state) + SetTouchpadLaunchState(1) +
                             GetTouchpadRegistryKey(key, 64);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return succeeded == 0 ? 0 : 1;
}
