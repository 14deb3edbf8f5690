// Throughput of the byte and entropy encoders and of the decoders of all five on the sample
// image, in bytes of input (decoded bytes) per second, beside a memcpy of the same buffer as
// the yardstick.
#include <benchmark/benchmark.h>

#include <cstring>
#include <optional>
#include <vector>

#include "bench_data.h"
#include "codecs/huffman.h"
#include "codecs/lz77_decode.h"
#include "codecs/lz77_fast.h"
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

// The decoders run on the sample's stream, encoded once before the timed loop, into an area
// of exactly the input's length.
template <typename Encode, typename Decode>
void RunDecoder(benchmark::State& state, Encode encode, Decode decode) {
    SampleBuffers b = MakeSampleBuffers();
    const uint32_t count = encode(b);
    std::vector<uint8_t> decoded(b.len);
    std::optional<uint32_t> size;
    for (auto _ : state) {
        size = decode(b.output.data(), count, decoded.data(), b.len);
        benchmark::DoNotOptimize(size);
        benchmark::ClobberMemory();
    }
    if (!size || std::memcmp(decoded.data(), b.input.data(), *size) != 0) {
        state.SkipWithError("the stream does not decode to the input");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * b.len);
}

void BM_DecodeRle(benchmark::State& state) {
    RunDecoder(
        state, [](SampleBuffers& b) { return EncodeRle(b.input.data(), b.output.data(), b.len); },
        DecodeRle);
}
BENCHMARK(BM_DecodeRle);

void BM_DecodeHuffman(benchmark::State& state) {
    RunDecoder(
        state,
        [](SampleBuffers& b) { return EncodeHuffman(b.input.data(), b.output.data(), b.len); },
        DecodeHuffman);
}
BENCHMARK(BM_DecodeHuffman);

void BM_DecodeRice(benchmark::State& state) {
    RunDecoder(
        state,
        [](SampleBuffers& b) {
            return EncodeRice(b.input.data(), b.output.data(), b.len, Signed32);
        },
        [](const uint8_t* input, uint32_t count, uint8_t* output, uint32_t len) {
            return DecodeRice(input, count, output, len, Signed32);
        });
}
BENCHMARK(BM_DecodeRice);

// LZ77 Fast's stream, which has LZ77's format and is made in a fraction of the time.
void BM_DecodeLz77(benchmark::State& state) {
    RunDecoder(
        state,
        [](SampleBuffers& b) {
            std::vector<int32_t> work(65536 + size_t{b.len});
            return EncodeLz77Fast(b.input.data(), b.output.data(), b.len, work.data());
        },
        DecodeLz77);
}
BENCHMARK(BM_DecodeLz77);

}  // namespace
}  // namespace tallox::bench
