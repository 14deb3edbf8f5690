// A Row as one fixed-size packet, for a measurement made in another process: numbers as they
// are, texts cut to their fields, so that a record crosses a socket whole in one send.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "engine/run_host.h"

namespace tallox {

// The per-call times a record carries at most; a longer list keeps its first ones.
inline constexpr size_t kWireSamples = 4096;

// The record that ends a request carries `end` alone.
struct WireRow {
    bool end;
    bool yardstick;
    int32_t threads;
    bool threadsShared;
    bool noisy;
    // The first kWireSamples per-call times, when the run keeps them.
    uint32_t sampleCount;
    double samplesMs[kWireSamples];
    char basis[8];
    std::optional<double> ssimulacra2;
    std::optional<double> butteraugliMax;
    std::optional<double> butteraugli3Norm;
    std::optional<double> cpuUserSeconds;
    std::optional<double> cpuSystemSeconds;
    char codec[16];
    char label[32];
    char params[64];
    char library[64];
    char memorySource[16];
    char text[128];
    char error[512];
    int32_t iterations;
    uint32_t inputBytes;
    uint32_t outputBytes;
    uint32_t verifiedBytes;
    double elapsedSeconds;
    double framesPerSecond;
    double ratio;
    CallStatistics calls;
    double mbpsMedian;
    double mbpsBest;
    std::optional<CallStatistics> decodeCalls;
    double decodeMbpsMedian;
    std::optional<uint64_t> memoryBytes;
    std::optional<bool> verified;
    std::optional<JpegOptions> jpeg;
    std::optional<double> psnrRgb;
    std::optional<double> psnrY;
    std::optional<double> ssim;
    std::optional<double> bpp;
    std::optional<double> mpps;
};
static_assert(std::is_trivially_copyable_v<WireRow>);

WireRow ToWire(const Row& row);
Row FromWire(const WireRow& wire);

}  // namespace tallox
