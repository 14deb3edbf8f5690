// Throughput of the byte and entropy encoders on the sample image, in bytes of input per
// second, beside a memcpy of the same buffer as the yardstick.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench_data.h"
#include "codecs/huffman.h"
#include "codecs/rice.h"
#include "codecs/rle.h"

namespace tallox::bench {
namespace {

void BM_Memcpy(benchmark::State& state) {
    SampleBuffers b = MakeSampleBuffers();
    for (auto _ : state) {
        std::memcpy(b.output.data(), b.input.data(), b.len);
        benchmark::DoNotOptimize(b.output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * b.len);
}
BENCHMARK(BM_Memcpy);

template <typename Encode>
void RunEncoder(benchmark::State& state, Encode encode) {
    SampleBuffers b = MakeSampleBuffers();
    uint32_t count = 0;
    for (auto _ : state) {
        count = encode(b);
        benchmark::DoNotOptimize(count);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * b.len);
    state.counters["compression"] = count == 0 ? 0.0 : static_cast<double>(b.len) / count;
}

void BM_EncodeRle(benchmark::State& state) {
    RunEncoder(state,
               [](SampleBuffers& b) { return EncodeRle(b.input.data(), b.output.data(), b.len); });
}
BENCHMARK(BM_EncodeRle);

void BM_EncodeHuffman(benchmark::State& state) {
    RunEncoder(state, [](SampleBuffers& b) {
        return EncodeHuffman(b.input.data(), b.output.data(), b.len);
    });
}
BENCHMARK(BM_EncodeHuffman);

// Type 7, as the benchmark run calls it.
void BM_EncodeRice(benchmark::State& state) {
    RunEncoder(state, [](SampleBuffers& b) {
        return EncodeRice(b.input.data(), b.output.data(), b.len, Signed32);
    });
}
BENCHMARK(BM_EncodeRice);

}  // namespace
}  // namespace tallox::bench
