// Test-only decoder of the Rice stream, and the mapped sample values it should give back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tallox::test {

struct RiceDecoded {
    bool raw = false;              // header byte 0: the samples at full width
    uint32_t k0 = 0;               // the header byte of the coded form
    std::vector<uint32_t> values;  // mapped values, len / width of them
    uint64_t bits = 0;             // bits read, the header byte included
};

// Bytes per sample of a type, 0 for an unsupported one.
uint32_t RiceSampleWidth(uint32_t sampleType);

// Decodes len / width samples from count bytes; nullopt for a malformed or short stream.
std::optional<RiceDecoded> DecodeRice(const uint8_t* data, size_t count, uint32_t len,
                                      uint32_t sampleType);

// The mapped value of every whole sample of the input: zig-zag of the signed types, the
// unsigned ones as read.
std::vector<uint32_t> MappedSamples(const std::vector<uint8_t>& input, uint32_t sampleType);

}  // namespace tallox::test
