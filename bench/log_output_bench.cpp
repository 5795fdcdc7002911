// The text output's cost per record (compose the line, open, append, close) beside the floor:
// the same bytes appended with the system's own open, fstat, write and close in a loop, in the
// same run, with one thread and with four; and the floor beside the same without its fstat. And
// records serialised and read back, beside a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_files.h"
#include "qir_log_output.h"

namespace {

CQIRLogStringWChar w(const char* text) {
    return CQIRLogStringWChar(text);
}

CQIRLogData sampleRecord() {
    return CQIRLogData(QIR_LOG_ERROR, w("could not find device, hResult = 0x80004005"), 5,
                       w("GetTouchpadLaunchState"), nullptr, 0, 5678, 1234, w("host.exe"),
                       w("Fri Dec 04 09:41:24 2026"), w("GetTouchpadLaunchState"),
                       w(".\\VelnorApi"), 154);
}

void BM_AppendFloor(benchmark::State& state) {
    static const std::vector<char> line = outputLine(sampleRecord());
    const std::string path = benchFile("floor");
    for (auto _ : state) {
        appendFloor(path, line, true);
    }
    if (state.thread_index() == 0) {
        std::remove(path.c_str());
    }
}
BENCHMARK(BM_AppendFloor)->Threads(1)->Threads(4)->UseRealTime();

// The floor without the regular-file check: open, write, close.
void BM_AppendUnchecked(benchmark::State& state) {
    static const std::vector<char> line = outputLine(sampleRecord());
    const std::string path = benchFile("unchecked");
    for (auto _ : state) {
        appendFloor(path, line, false);
    }
    if (state.thread_index() == 0) {
        std::remove(path.c_str());
    }
}
BENCHMARK(BM_AppendUnchecked)->UseRealTime();

void BM_OutputWrite(benchmark::State& state) {
    const std::string path = benchFile("output");
    const CQIRLogStringWChar target = w(path.c_str());
    const CQIRLogData record = sampleRecord();
    CQIRLogOutputTextWindows output(target);  // as the logger makes it for its entry
    for (auto _ : state) {
        benchmark::DoNotOptimize(output.write(record, target));
    }
    if (state.thread_index() == 0) {
        std::remove(path.c_str());
    }
}
BENCHMARK(BM_OutputWrite)->Threads(1)->Threads(4)->UseRealTime();

void BM_PlainCopy(benchmark::State& state) {
    const CQIRLogData record = sampleRecord();
    std::vector<unsigned char> source(record.serializedSize(), 0x5A);
    std::vector<unsigned char> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainCopy);

void BM_RecordSerialize(benchmark::State& state) {
    const CQIRLogData record = sampleRecord();
    std::vector<unsigned char> bytes(record.serializedSize());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            record.serialize(bytes.data(), static_cast<uint32_t>(bytes.size())));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordSerialize);

void BM_RecordDeserialize(benchmark::State& state) {
    const CQIRLogData record = sampleRecord();
    std::vector<unsigned char> bytes(record.serializedSize());
    record.serialize(bytes.data(), static_cast<uint32_t>(bytes.size()));
    CQIRLogData read = sampleRecord();
    for (auto _ : state) {
        uint32_t consumed = 0;
        benchmark::DoNotOptimize(
            read.deserialize(bytes.data(), static_cast<uint32_t>(bytes.size()), consumed));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordDeserialize);

}  // namespace

BENCHMARK_MAIN();
