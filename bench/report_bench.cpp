// What one report costs. Unconfigured (the common case in the field: no logging key for the
// program) beside composing the time text alone; and through a logger with one text file
// output beside the append floor: the same bytes appended with open, fstat, write and close.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_files.h"
#include "qir_log.h"
#include "qir_logger.h"
#include "qir_sys/process.h"

namespace {

CQIRLogStringWChar w(const char* text) {
    return CQIRLogStringWChar(text);
}

const CQIRLogStringWChar kMessage = w("could not find device, hResult = 0x80004005");
const CQIRLogStringWChar kTask = w("GetTouchpadLaunchState");
const CQIRLogStringWChar kFile = w(".\\VelnorApi");

void BM_TimeText(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(qirLogTimeText());
    }
}
BENCHMARK(BM_TimeText);

// The library-wide logger of this program has no configuration to find.
void BM_ReportUnconfigured(benchmark::State& state) {
    CQIRLogError report;
    for (auto _ : state) {
        benchmark::DoNotOptimize(report.log(kMessage, kTask, kTask, kFile, 154, 0, nullptr, 0));
    }
}
BENCHMARK(BM_ReportUnconfigured);

// A logger with one text file output, fed a record built as a report builds it.
void BM_ReportToFile(benchmark::State& state) {
    const std::string path = benchFile("report");
    CQIRLogConfigEntryList entries;
    entries.resize(1);
    CQIRLogConfigEntry& entry = entries.getEntries()[0];
    entry.m_bEnabled = true;
    entry.m_ulType = 1;
    entry.m_ulDetail = 0xFFFFFFFF;
    entry.m_strTarget = w(path.c_str());
    CQIRMutexLW lock;
    CQIRLogStringWChar application = w("bench");
    CQIRLogger logger(lock, application);
    logger.configure(entries);
    for (auto _ : state) {
        const CQIRLogData record(QIR_LOG_ERROR, kMessage, 0, kTask, nullptr, 0,
                                 qir::sys::threadId(), 1234, application, qirLogTimeText(), kTask,
                                 kFile, 154);
        benchmark::DoNotOptimize(logger.write(record));
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_ReportToFile);

void BM_AppendFloor(benchmark::State& state) {
    const std::string path = benchFile("floor");
    const std::vector<char> line =
        outputLine(CQIRLogData(QIR_LOG_ERROR, kMessage, 0, kTask, nullptr, 0, qir::sys::threadId(),
                               1234, w("bench"), qirLogTimeText(), kTask, kFile, 154));
    for (auto _ : state) {
        appendFloor(path, line, true);
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_AppendFloor);

}  // namespace

int main(int argc, char** argv) {
    // No logging configuration for this program, whatever the machine has.
    setenv("QIR_REGISTRY", "/nonexistent/qir-report-bench.reg", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
