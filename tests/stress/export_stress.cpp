// A host process of the stress test: `velnor_export_stress THREADS CALLS` has THREADS threads
// at once each call every export CALLS times. Exit status 0 when every call answered 0, as the
// touchpad the test sets up makes them.
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "VelnorApi.h"

int main(int, char** argv) {
    const int calls = std::atoi(argv[2]);
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int t = std::atoi(argv[1]); t > 0; --t) {
        threads.emplace_back([&] {
            for (int n = 0; n < calls; ++n) {
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
