// Adaptive Rice coder over fixed-width samples. Header byte k0 and a Rice-coded bit stream,
// or, when that does not fit in len + 1 bytes, header byte 0 and the mapped samples raw.
#pragma once
#include <cstdint>
#include <optional>

namespace tallox {

enum RiceSampleType : uint32_t {
    Signed8 = 1,
    Unsigned8 = 2,
    Signed16 = 3,
    Unsigned16 = 4,
    Signed32 = 7,
    Unsigned32 = 8,
};

// Returns the size of the form written; 0 (nothing written) for an unsupported type or an
// input shorter than one sample. Touches only output bytes 0 to len.
uint32_t EncodeRice(const uint8_t* input, uint8_t* output, uint32_t len, uint32_t sampleType);

// Decodes the `count` bytes of a stream of samples of `sampleType` taken from `len` input
// bytes. Only the n = len / B whole samples of B bytes are coded, so the first n * B bytes
// come back, and n * B is returned (0 when n is 0 and the stream empty). nullopt for an
// unsupported type, or when the stream is malformed (a code cut off or above the type's
// range, a header above 32, a raw form of the wrong size) or goes on past the byte of its
// last code. Reads input[0, count) and writes output[0, n * B) only.
std::optional<uint32_t> DecodeRice(const uint8_t* input, uint32_t count, uint8_t* output,
                                   uint32_t len, uint32_t sampleType);

}  // namespace tallox
