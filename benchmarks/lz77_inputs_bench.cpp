// The two LZ77 encoders, and the chains followed link by link, on the kinds of input that cost a
// search the most: flat bitmaps of one grey value and of one colour, long runs of zero bytes, a
// synthetic screenshot, beside photographs (the sample and the shared test images). One call
// per iteration; benchmarks/lz77_inputs.sh runs them and prints seconds per call. Uses only the
// encoders' entry points, so the same file measures an older revision of them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codecs/lz77.h"
#include "codecs/lz77_fast.h"
#include "codecs/lz77_format.h"
#include "codecs/working_block.h"

namespace tallox::bench {
namespace {

void PutLe(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A bottom-up 24-bit bitmap: the 54 bytes of the file and info headers, then the pixels.
std::vector<uint8_t> Bitmap(uint32_t width, uint32_t height, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> bytes(54 + pixels.size());
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutLe(bytes, 2, static_cast<uint32_t>(54 + pixels.size()), 4);
    PutLe(bytes, 10, 54, 4);
    PutLe(bytes, 14, 40, 4);
    PutLe(bytes, 18, width, 4);
    PutLe(bytes, 22, height, 4);
    PutLe(bytes, 26, 1, 2);
    PutLe(bytes, 28, 24, 2);
    PutLe(bytes, 34, static_cast<uint32_t>(pixels.size()), 4);
    PutLe(bytes, 38, 2835, 4);
    PutLe(bytes, 42, 2835, 4);
    std::copy(pixels.begin(), pixels.end(), bytes.begin() + 54);
    return bytes;
}

std::vector<uint8_t> Flat(uint8_t blue, uint8_t green, uint8_t red) {
    std::vector<uint8_t> pixels;
    pixels.reserve(512 * 512 * 3);
    for (uint32_t i = 0; i < 512 * 512; ++i) pixels.insert(pixels.end(), {blue, green, red});
    return Bitmap(512, 512, pixels);
}

// White, with lines of dark "text": glyphs of random pixels 6 wide and 9 high, two spaces
// apart, on every 16th row, and a grey title bar.
std::vector<uint8_t> Screenshot() {
    constexpr uint32_t kSide = 512;
    std::vector<uint8_t> pixels(kSide * kSide * 3, 0xFF);
    std::mt19937 rng(7);
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) {
            uint8_t* pixel = &pixels[(y * kSide + x) * 3];
            if (y >= kSide - 24) {
                pixel[0] = 0xD0, pixel[1] = 0xC8, pixel[2] = 0xC0;
            } else if (y % 16 < 9 && x >= 8 && x < 440 && x % 8 < 6 && rng() % 3 == 0) {
                pixel[0] = pixel[1] = pixel[2] = 0x20;
            }
        }
    }
    return Bitmap(kSide, kSide, pixels);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> data;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            data.insert(data.end(), chunk, chunk + got);
        }
        std::fclose(file);
    }
    return data;
}

enum class Encoder { kLz77, kLz77Fast, kLz77FastChained };

void RunOnInput(benchmark::State& state, Encoder encoder, const std::vector<uint8_t>& input) {
    const auto len = static_cast<uint32_t>(input.size());
    std::vector<uint8_t> output(OutputAreaSize(len));
    std::vector<int32_t> workTable(65536 + static_cast<size_t>(len));
    uint32_t count = 0;
    for (auto _ : state) {
        switch (encoder) {
            case Encoder::kLz77:
                count = EncodeLz77(input.data(), output.data(), len);
                break;
            case Encoder::kLz77Fast:
                count = EncodeLz77Fast(input.data(), output.data(), len, workTable.data());
                break;
            case Encoder::kLz77FastChained:
                count = EncodeLz77FastChained(input.data(), output.data(), len, workTable.data());
                break;
        }
        benchmark::DoNotOptimize(count);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * len);
    state.counters["compression"] = count == 0 ? 0.0 : static_cast<double>(len) / count;
}

const bool kRegistered = [] {
    // The shared images lie beside the checkout, or where TALLOX_SHARED_IMAGES says.
    const std::string data = TALLOX_SAMPLE_IMAGE;
    const char* shared = std::getenv("TALLOX_SHARED_IMAGES");
    const std::string images = (shared != nullptr ? std::string(shared)
                                                  : data.substr(0, data.rfind("/data/")) +
                                                        "/../shared/images") +
                               "/";
    const std::pair<const char*, std::vector<uint8_t>> inputs[] = {
        {"grey", Flat(0x80, 0x80, 0x80)},
        {"colour", Flat(0x30, 0x80, 0xC0)},
        {"zeros-1M", std::vector<uint8_t>(1000000, 0)},
        {"zeros-4M", std::vector<uint8_t>(4000000, 0)},
        {"screenshot", Screenshot()},
        {"sample", ReadFile(data)},
        {"ladybird", ReadFile(images + "ladybird-512x512.bmp")},
        {"storm", ReadFile(images + "storm-640x480.bmp")},
        {"wood", ReadFile(images + "wood-512x512.bmp")},
    };
    const std::pair<const char*, Encoder> encoders[] = {
        {"Lz77", Encoder::kLz77},
        {"Lz77Fast", Encoder::kLz77Fast},
        {"Lz77FastChained", Encoder::kLz77FastChained},
    };
    for (const auto& [name, bytes] : inputs) {
        if (bytes.empty()) continue;  // a shared image not beside this checkout
        for (const auto& [encoderName, encoder] : encoders) {
            benchmark::RegisterBenchmark(
                (std::string("BM_Lz77Input/") + encoderName + "/" + name).c_str(),
                [encoder = encoder, bytes = bytes](benchmark::State& state) {
                    RunOnInput(state, encoder, bytes);
                })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}();

}  // namespace
}  // namespace tallox::bench
