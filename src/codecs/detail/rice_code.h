// The pieces of the Rice coder that the encoder's SIMD targets share and tests reach: sample
// mapping, bit lengths and the bounded bit writer, which drops bits past its byte limit.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codecs/rice.h"

namespace tallox::detail {

template <uint32_t kType>
constexpr uint32_t kRiceSampleBytes = kType == Signed8 || kType == Unsigned8     ? 1
                                      : kType == Signed16 || kType == Unsigned16 ? 2
                                                                                 : 4;

// Bits up to the highest set one, 0 for 0; 2v + 1 is never 0, so no zero test is needed (one
// bit scan, or lzcnt where the target has it).
inline uint32_t BitLength(uint32_t v) {
    return 63u - static_cast<uint32_t>(__builtin_clzll(2 * static_cast<uint64_t>(v) + 1));
}

inline uint32_t ZigZag(uint32_t x) { return (x << 1) ^ (0u - (x >> 31)); }

// The mapped value of sample i of a supported type: zig-zag for the signed types, as read
// (little-endian) for the unsigned ones.
template <uint32_t kType>
inline uint32_t FetchMapped(const uint8_t* input, size_t i) {
    const uint8_t* p = input + i * kRiceSampleBytes<kType>;
    if constexpr (kType == Signed8) {
        return ZigZag(static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(p[0]))));
    } else if constexpr (kType == Unsigned8) {
        return p[0];
    } else if constexpr (kType == Signed16 || kType == Unsigned16) {
        const auto x = static_cast<uint16_t>(p[0] | (p[1] << 8));
        if constexpr (kType == Signed16) {
            return ZigZag(static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(x))));
        }
        return x;
    } else {
        uint32_t x;
        std::memcpy(&x, p, 4);
        if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap32(x);
        if constexpr (kType == Signed32) return ZigZag(x);
        return x;
    }
}

// Calls run.operator()<type>() for a supported type; 0 for any other.
template <typename Run>
uint32_t ForRiceType(uint32_t sampleType, Run run) {
    switch (sampleType) {
        case Signed8:
            return run.template operator()<Signed8>();
        case Unsigned8:
            return run.template operator()<Unsigned8>();
        case Signed16:
            return run.template operator()<Signed16>();
        case Unsigned16:
            return run.template operator()<Unsigned16>();
        case Signed32:
            return run.template operator()<Signed32>();
        case Unsigned32:
            return run.template operator()<Unsigned32>();
        default:
            return 0;
    }
}

// The bounded writer: bits whose byte lies at or past byteLimit are dropped. Each bit sets or
// clears one bit of its byte and leaves the others alone.
struct RiceBitWriter {
    uint8_t* base;
    uint64_t bitPos;     // bits emitted so far, the header byte included
    uint64_t byteLimit;  // len + 1, which needs 33 bits at the largest len
};

inline void WriteBit(RiceBitWriter& writer, uint32_t bit) {
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

// The low n bits of value, highest first.
inline void WriteBits(RiceBitWriter& writer, uint32_t n, uint64_t value) {
    for (uint32_t i = n; i > 0; --i) WriteBit(writer, static_cast<uint32_t>(value >> (i - 1)) & 1u);
}

// The code of v with parameter k: q = v >> k as q ones and a zero when q <= 8, else eight ones
// and r = q - 8 as L ones, a zero and r's L - 1 low bits (L its bit length); then v's k low
// bits. At most 72 bits.
inline void WriteRiceCode(RiceBitWriter& writer, uint32_t v, uint32_t k) {
    const uint64_t q = static_cast<uint64_t>(v) >> k;
    if (q <= 8) {
        for (uint64_t i = 0; i < q; ++i) WriteBit(writer, 1);
        WriteBit(writer, 0);
    } else {
        const auto r = static_cast<uint32_t>(q - 8);
        const uint32_t bits = BitLength(r);
        for (uint32_t i = 0; i < 8 + bits; ++i) WriteBit(writer, 1);
        WriteBit(writer, 0);
        WriteBits(writer, bits - 1, r);
    }
    WriteBits(writer, k, v);
}

}  // namespace tallox::detail
