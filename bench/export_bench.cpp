// The cost of an export call's own work: GetTouchpadLaunchState's code against a vendor that
// answers at once, beside the bare vendor calls it makes (the same seven virtual calls made
// directly) as the baseline measured in the same run.
#include <benchmark/benchmark.h>

#include "backend.h"
#include "quiet_vendor.h"

namespace {

void noReport(void*, const velnor::Failure&) {}

void BM_DirectVendorCalls(benchmark::State& state) {
    for (auto _ : state) {
        ISynAPI* api = nullptr;
        createQuietApi(nullptr, &api);
        int32_t handle = -1;
        api->FindDevice(2, 2, &handle);
        ISynDevice* device = nullptr;
        api->CreateDevice(handle, &device);
        int32_t has = 0;
        int32_t value = 0;
        device->GetProperty(syn::kPropertyHasTwoFingerDoubleTap, &has);
        device->GetProperty(syn::kPropertyTwoFingerDoubleTapState, &value);
        device->Release();
        api->Release();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_DirectVendorCalls);

void BM_GetLaunchStateThroughExportCode(benchmark::State& state) {
    const velnor::Backend backend{nullptr, createQuietApi, noReport};
    unsigned char launch = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(velnor::getLaunchState(backend, &launch));
    }
}
BENCHMARK(BM_GetLaunchStateThroughExportCode);

}  // namespace

BENCHMARK_MAIN();
