// A logging configuration of 3,000 outputs loaded from a .reg file of 4 MiB (the POSIX reader's
// limit), beside one reading and parse of the same file: a load reads and parses the file once,
// whatever the number of keys it opens below the logs key.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_files.h"
#include "qir_log_config.h"
#include "reg_file.h"

namespace {

using qir::sys::regfile::kMaxFileBytes;
constexpr uint32_t kOutputs = 3000;

// The file that $QIR_REGISTRY names while the program runs: each output under Default with its
// values and a note of 1,150 characters, then a comment that brings the file to 4 MiB.
struct RegistryFile {
    RegistryFile() {
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
        for (uint32_t i = 0; i < kOutputs; ++i) {
            text += "[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\Default\\Output" +
                    std::to_string(i) +
                    "]\r\n\"Enabled\"=dword:00000001\r\n\"Detail\"=dword:0000000f\r\n"
                    "\"Type\"=dword:00000001\r\n\"Target\"=\"" +
                    benchFile(("out" + std::to_string(i)).c_str()) + "\"\r\n\"Note\"=\"" +
                    std::string(1150, 'n') + "\"\r\n\r\n";
        }
        text += ";" + std::string(kMaxFileBytes - text.size() - 3, 'x') + "\r\n";
        std::ofstream(path, std::ios::binary) << text;
        setenv("QIR_REGISTRY", path.c_str(), 1);
    }
    ~RegistryFile() { std::remove(path.c_str()); }
    const std::string path = benchFile("registry");
};

const RegistryFile& registryFile() {
    static const RegistryFile file;
    return file;
}

void BM_ParseRegistryFile(benchmark::State& state) {
    const std::string& path = registryFile().path;
    size_t keys = 0;
    for (auto _ : state) {
        std::vector<uint8_t> bytes(kMaxFileBytes + 1);
        FILE* file = std::fopen(path.c_str(), "rb");
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
        std::fclose(file);
        const auto root = qir::sys::regfile::parse(bytes.data(), bytes.size());
        keys = root->subkeyCount();
    }
    if (keys != 1) {
        state.SkipWithError("the file did not parse");
    }
}
BENCHMARK(BM_ParseRegistryFile)->Unit(benchmark::kMillisecond);

void BM_LoadConfiguration(benchmark::State& state) {
    registryFile();
    CQIRLogConfigWindows config(CQIRLogStringWChar("bench"));
    for (auto _ : state) {
        benchmark::DoNotOptimize(config.load());
    }
    if (config.getEntries().getCount() != kOutputs ||
        !config.getEntries().getEntries()[0].m_bEnabled) {
        state.SkipWithError("the configuration did not load whole");
    }
}
BENCHMARK(BM_LoadConfiguration)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
