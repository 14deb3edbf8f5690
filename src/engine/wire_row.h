// A Row as packets, for a measurement made in another process: a fixed record of its numbers
// as they are and its texts cut to their fields, then its per-call times in packets of their
// own, so that each packet crosses a socket whole in one send and only what is used is sent.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>

#include "engine/run_host.h"

namespace tallox {

// The per-call times one packet carries at most; a row's times follow it in as many packets as
// they fill.
inline constexpr size_t kWireSamples = 4096;

// The record that ends a request carries `end` alone.
struct WireRow {
    bool end;
    bool yardstick;
    int32_t threads;
    bool threadsShared;
    bool noisy;
    uint64_t sampleCount;  // the per-call times in the packets that follow
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

// The row's record; its samplesMs go in packets of their own.
WireRow ToWire(const Row& row);
// The row of `wire`, its samplesMs still empty.
Row FromWire(const WireRow& wire);

}  // namespace tallox
