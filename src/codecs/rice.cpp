#include "codecs/rice.h"

#include <bit>

namespace tallox {

namespace {

// Bytes per sample of a type; 0 for an unsupported type.
inline uint32_t SampleBytes(uint32_t sampleType) {
    switch (sampleType) {
        case Signed8:
        case Unsigned8:
            return 1;
        case Signed16:
        case Unsigned16:
            return 2;
        case Signed32:
        case Unsigned32:
            return 4;
        default:
            return 0;
    }
}

inline uint32_t ZigZag(uint32_t x) { return (x << 1) ^ (0u - (x >> 31)); }

inline void PutBit(RiceBitWriter& writer, uint32_t bit) {
    const uint64_t byte = writer.bitPos >> 3;
    if (byte >= writer.byteLimit) return;
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (writer.bitPos & 7));
    if (bit) {
        writer.base[byte] |= mask;
    } else {
        writer.base[byte] &= static_cast<uint8_t>(~mask);
    }
    ++writer.bitPos;
}

inline void PutBits(RiceBitWriter& writer, uint32_t n, uint32_t value) {
    for (uint32_t i = n; i > 0; --i) PutBit(writer, (value >> (i - 1)) & 1u);
}

inline void PutRiceCode(RiceBitWriter& writer, uint32_t v, uint32_t k) {
    const uint32_t q = k >= 32 ? 0 : v >> k;
    if (q <= 8) {
        for (uint32_t i = 0; i < q; ++i) PutBit(writer, 1);
        PutBit(writer, 0);
    } else {
        // Escape: eight ones, then r = q - 8 as L ones, a zero and r's L - 1 low bits.
        const uint32_t r = q - 8;
        const uint32_t bits = SignificantBits(r);
        for (uint32_t i = 0; i < 8 + bits; ++i) PutBit(writer, 1);
        PutBit(writer, 0);
        PutBits(writer, bits - 1, r);
    }
    PutBits(writer, k, v);
}

// The writer has filled all len + 1 bytes: the coded stream does not fit.
inline bool WriterFull(const RiceBitWriter& writer, uint32_t len) {
    return (writer.bitPos >> 3) > len;
}

}  // namespace

uint32_t SignificantBits(uint32_t v) { return 32u - static_cast<uint32_t>(std::countl_zero(v)); }

uint32_t FetchMappedSample(const uint8_t* input, uint32_t i, uint32_t sampleType) {
    const uint8_t* p = input + static_cast<uint64_t>(i) * SampleBytes(sampleType);
    switch (sampleType) {
        case Signed8:
            return ZigZag(static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(p[0]))));
        case Unsigned8:
            return p[0];
        case Signed16:
            return ZigZag(static_cast<uint32_t>(
                static_cast<int32_t>(static_cast<int16_t>(p[0] | (p[1] << 8)))));
        case Unsigned16:
            return static_cast<uint32_t>(p[0] | (p[1] << 8));
        case Signed32:
        case Unsigned32: {
            const uint32_t x = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                               (static_cast<uint32_t>(p[2]) << 16) |
                               (static_cast<uint32_t>(p[3]) << 24);
            return sampleType == Signed32 ? ZigZag(x) : x;
        }
        default:
            return 0;
    }
}

void WriteBit(RiceBitWriter& writer, uint32_t bit) { PutBit(writer, bit); }

void WriteRiceCode(RiceBitWriter& writer, uint32_t v, uint32_t k) { PutRiceCode(writer, v, k); }

uint32_t EncodeRice(const uint8_t* input, uint8_t* output, uint32_t len, uint32_t sampleType) {
    const uint32_t width = SampleBytes(sampleType);
    if (width == 0) return 0;
    const uint32_t n = len / width;
    if (n == 0) return 0;

    const uint32_t m = n < 16 ? n : 16;
    uint32_t sum = 0;
    for (uint32_t j = 0; j < m; ++j)
        sum += SignificantBits(FetchMappedSample(input, j, sampleType));
    uint32_t k0 = (sum + m / 2) / m;
    if (k0 == 0) k0 = 1;

    output[0] = static_cast<uint8_t>(k0);
    RiceBitWriter writer{output, 8, len + 1};
    uint32_t ring[16];
    bool fits = true;
    for (uint32_t j = 0; j < n; ++j) {
        if (WriterFull(writer, len)) {
            fits = false;
            break;
        }
        uint32_t k = k0;
        if (j >= 16) {
            uint32_t ringSum = 0;
            for (uint32_t e : ring) ringSum += e;
            k = (ringSum + 8) / 16;
        }
        const uint32_t v = FetchMappedSample(input, j, sampleType);
        PutRiceCode(writer, v, k);
        ring[j % 16] = SignificantBits(v);
    }
    if (fits && !WriterFull(writer, len)) return static_cast<uint32_t>((writer.bitPos + 7) / 8);

    // Raw form: the mapped values at full width, high byte first.
    output[0] = 0;
    writer.bitPos = 8;
    for (uint32_t j = 0; j < n; ++j)
        PutBits(writer, width * 8, FetchMappedSample(input, j, sampleType));
    return static_cast<uint32_t>((writer.bitPos + 7) / 8);
}

}  // namespace tallox
