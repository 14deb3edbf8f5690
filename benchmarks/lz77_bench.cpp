// Throughput of the two LZ77 encoders on the sample image. The window walk of EncodeLz77 takes
// seconds per call, so its benchmarks run a fixed single iteration per repetition; its scalar
// path, slower still, is compared with the dispatched one on the same 64 KiB prefix.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "bench_data.h"
#include "codecs/detail/lz77_reference.h"
#include "codecs/lz77.h"
#include "codecs/lz77_fast.h"
#include "codecs/lz77_format.h"

namespace tallox::bench {
namespace {

constexpr uint32_t kPrefix = 65536;

template <typename Encode>
void RunLz77Encoder(benchmark::State& state, uint32_t len, Encode encode) {
    SampleBuffers b = MakeSampleBuffers();
    len = std::min(len, b.len);
    uint32_t count = 0;
    for (auto _ : state) {
        count = encode(b, len);
        benchmark::DoNotOptimize(count);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * len);
    state.counters["compression"] = count == 0 ? 0.0 : static_cast<double>(len) / count;
}

uint32_t Lz77(SampleBuffers& b, uint32_t len) {
    return EncodeLz77(b.input.data(), b.output.data(), len);
}

uint32_t Lz77Scalar(SampleBuffers& b, uint32_t len) {
    return detail::EncodeLz77Scalar(b.input.data(), b.output.data(), len);
}

void BM_EncodeLz77(benchmark::State& state) { RunLz77Encoder(state, UINT32_MAX, Lz77); }
BENCHMARK(BM_EncodeLz77)->Iterations(1)->Unit(benchmark::kMillisecond);

// The dispatched search and the scalar one on the same prefix of the sample.
void BM_EncodeLz77Prefix(benchmark::State& state) { RunLz77Encoder(state, kPrefix, Lz77); }
BENCHMARK(BM_EncodeLz77Prefix)->Iterations(4)->Unit(benchmark::kMillisecond);

void BM_EncodeLz77Scalar(benchmark::State& state) { RunLz77Encoder(state, kPrefix, Lz77Scalar); }
BENCHMARK(BM_EncodeLz77Scalar)->Iterations(1)->Unit(benchmark::kMillisecond);

template <typename Encode>
void RunLz77FastEncoder(benchmark::State& state, Encode encode) {
    std::vector<int32_t> workTable;
    RunLz77Encoder(state, UINT32_MAX, [&workTable, encode](SampleBuffers& b, uint32_t len) {
        workTable.resize(65536 + static_cast<size_t>(len));
        return encode(b.input.data(), b.output.data(), len, workTable.data());
    });
}

void BM_EncodeLz77Fast(benchmark::State& state) { RunLz77FastEncoder(state, EncodeLz77Fast); }
BENCHMARK(BM_EncodeLz77Fast)->Unit(benchmark::kMillisecond);

// The chains followed link by link: the straightforward walk the bucket layout is measured by.
void BM_EncodeLz77FastChained(benchmark::State& state) {
    RunLz77FastEncoder(state, EncodeLz77FastChained);
}
BENCHMARK(BM_EncodeLz77FastChained)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tallox::bench
