// What the serialised string form costs: serialising and reading back strings of both classes
// beside the floor of the same work, a plain copy of the form's bytes into fresh heap storage.
// Each read starts from its own copy of the form (the read consumes it), so the read figures
// include one plain copy.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"

namespace {

std::string textOf(int64_t length) {
    std::string text;
    for (int64_t i = 0; i < length; ++i) {
        text += static_cast<char>('a' + i % 26);
    }
    return text;
}

CQIRStringMultiByte narrowOf(int64_t length) {
    const std::string text = textOf(length);
    return CQIRStringMultiByte(CQIRBuffer<char>(text.c_str(), static_cast<uint32_t>(text.size())));
}

CQIRStringWChar wideOf(int64_t length) {
    return CQIRStringWChar(textOf(length).c_str());
}

void setThroughput(benchmark::State& state, uint32_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

// The floor: the form's bytes copied into storage of their own and released.
void BM_PlainCopy(benchmark::State& state) {
    const CQIRBuffer<unsigned char> form = narrowOf(state.range(0)).serialize();
    for (auto _ : state) {
        auto* copy = new unsigned char[form.getSize()];
        std::memcpy(copy, form.getBuffer(), form.getSize());
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
        delete[] copy;
    }
    setThroughput(state, form.getSize());
}

template <class S>
void BM_Serialize(benchmark::State& state, S (*make)(int64_t)) {
    const S string = make(state.range(0));
    for (auto _ : state) {
        const CQIRBuffer<unsigned char> form = string.serialize();
        benchmark::DoNotOptimize(form.getBuffer());
    }
    setThroughput(state, string.serializedSize());
}

template <class S>
void BM_Deserialize(benchmark::State& state, S (*make)(int64_t)) {
    const CQIRBuffer<unsigned char> form = make(state.range(0)).serialize();
    S string;
    for (auto _ : state) {
        CQIRBuffer<unsigned char> in(form);
        if (!string.deserialize(in)) {
            state.SkipWithError("the form was not read back");
            break;
        }
        benchmark::DoNotOptimize(string.getBuffer());
    }
    setThroughput(state, form.getSize());
}

void BM_SerializeMultiByte(benchmark::State& state) {
    BM_Serialize(state, narrowOf);
}
void BM_SerializeWChar(benchmark::State& state) {
    BM_Serialize(state, wideOf);
}
void BM_DeserializeMultiByte(benchmark::State& state) {
    BM_Deserialize(state, narrowOf);
}
void BM_DeserializeWChar(benchmark::State& state) {
    BM_Deserialize(state, wideOf);
}

// Message-sized texts, and a long one.
#define QIR_TEXT_LENGTHS Arg(16)->Arg(64)->Arg(1024)
BENCHMARK(BM_PlainCopy)->QIR_TEXT_LENGTHS;
BENCHMARK(BM_SerializeMultiByte)->QIR_TEXT_LENGTHS;
BENCHMARK(BM_SerializeWChar)->QIR_TEXT_LENGTHS;
BENCHMARK(BM_DeserializeMultiByte)->QIR_TEXT_LENGTHS;
BENCHMARK(BM_DeserializeWChar)->QIR_TEXT_LENGTHS;

}  // namespace

BENCHMARK_MAIN();
