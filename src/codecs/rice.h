// Adaptive Rice coder over fixed-width samples. Header byte k0 and a Rice-coded bit stream,
// or, when that does not fit in len + 1 bytes, header byte 0 and the mapped samples raw.
#pragma once
#include <cstdint>

namespace tallox {

enum RiceSampleType : uint32_t {
    Signed8 = 1,
    Unsigned8 = 2,
    Signed16 = 3,
    Unsigned16 = 4,
    Signed32 = 7,
    Unsigned32 = 8,
};

// The bounded writer: bits whose byte lies at or past byteLimit are dropped.
struct RiceBitWriter {
    uint8_t* base;
    uint64_t bitPos;     // bits emitted so far, the header byte included
    uint64_t byteLimit;  // len + 1, which needs 33 bits at the largest len
};

// Returns the size of the form written; 0 (nothing written) for an unsupported type or an
// input shorter than one sample. Touches only output bytes 0 to len.
uint32_t EncodeRice(const uint8_t* input, uint8_t* output, uint32_t len, uint32_t sampleType);

// The mapped value of sample i: zig-zag for the signed types, as read for the unsigned ones;
// 0 for an unsupported type.
uint32_t FetchMappedSample(const uint8_t* input, uint32_t i, uint32_t sampleType);

// Bits up to and including the highest set bit; 0 for 0.
uint32_t SignificantBits(uint32_t v);

void WriteRiceCode(RiceBitWriter& writer, uint32_t v, uint32_t k);
void WriteBit(RiceBitWriter& writer, uint32_t bit);

}  // namespace tallox
