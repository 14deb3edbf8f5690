// Inputs for the codec tests: random and structured byte strings, and the bundled sample image.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallox::test {

// "41 41 0a" -> {0x41, 0x41, 0x0A}; whitespace between bytes is ignored.
std::vector<uint8_t> FromHex(std::string_view hex);

// Uniformly random bytes from a fixed seed.
std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);

// Random bytes drawn from only `alphabet` distinct values (1 to 256), starting at `lowest`.
std::vector<uint8_t> RandomFromAlphabet(size_t size, uint32_t seed, uint32_t alphabet,
                                        uint8_t lowest = 0);

// Runs of random values whose lengths are drawn from 1 to `maxRun`, so short runs, runs at the
// codecs' thresholds and long runs all occur.
std::vector<uint8_t> RandomRuns(size_t size, uint32_t seed, uint32_t maxRun);

// Each value 0 to 255 `repeat` times in a row, ascending.
std::vector<uint8_t> AllValues(uint32_t repeat = 1);

// Little-endian samples of 1, 2 or 4 bytes.
std::vector<uint8_t> LittleEndian(const std::vector<int64_t>& samples, uint32_t bytesPerSample);

// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Lower-case hex SHA-256 of size bytes at data.
std::string Sha256(const void* data, size_t size);

#ifdef TALLOX_SOURCE_DIR
inline std::string SampleImagePath() { return TALLOX_SOURCE_DIR "/data/sample.bmp"; }
#endif

}  // namespace tallox::test
