#include <bit>
#include <cstring>

#include "codecs/detail/big_endian.h"
#include "codecs/detail/bit_stream.h"
#include "codecs/detail/check.h"
#include "codecs/detail/rice_code.h"
#include "codecs/rice.h"

namespace tallox {

namespace {

inline uint32_t UnZigZag(uint32_t v) { return (v >> 1) ^ (0u - (v & 1)); }

// Writes the sample whose mapped value is v, little-endian.
template <uint32_t kType>
inline void StoreSample(uint8_t* p, uint32_t v) {
    constexpr bool kSigned = kType == Signed8 || kType == Signed16 || kType == Signed32;
    const uint32_t x = kSigned ? UnZigZag(v) : v;
    if constexpr (detail::kRiceSampleBytes<kType> == 1) {
        p[0] = static_cast<uint8_t>(x);
    } else if constexpr (detail::kRiceSampleBytes<kType> == 2) {
        p[0] = static_cast<uint8_t>(x);
        p[1] = static_cast<uint8_t>(x >> 8);
    } else {
        uint32_t le = x;
        if constexpr (std::endian::native == std::endian::big) le = __builtin_bswap32(le);
        std::memcpy(p, &le, 4);
    }
}

// Reads the code with parameter k at bit `pos` and advances past it; false when the prefix
// is longer than any code's or the value exceeds 32 bits. Bits past the stream read as 0.
inline bool ReadCode(const detail::BitStream& stream, uint64_t& pos, uint32_t k, uint32_t& v) {
    uint64_t word = stream.Peek(pos);
    const auto ones = static_cast<uint32_t>(std::countl_one(word));
    if (ones <= 8) {
        // The common code: q ones, a zero and k bits, at most 41 bits, all in the word.
        const uint64_t rest = word << (ones + 1);
        const uint64_t remainder = k == 0 ? 0 : rest >> (64 - k);
        pos += ones + 1 + k;
        const uint64_t value = uint64_t{ones} << k | remainder;
        v = static_cast<uint32_t>(value);
        return value <= UINT32_MAX;
    }
    // Eight ones, then r = q - 8 as L ones, a zero and r's L - 1 low bits.
    const uint32_t bits = ones - 8;
    if (bits > 32) return false;
    pos += ones + 1;
    word = stream.Peek(pos);
    const uint64_t r = uint64_t{1} << (bits - 1) | (bits == 1 ? 0 : word >> (65 - bits));
    pos += bits - 1;
    const uint64_t q = 8 + r;
    uint64_t remainder = 0;
    if (k != 0) {
        remainder = stream.Peek(pos) >> (64 - k);
        pos += k;
    }
    if (q > (uint64_t{UINT32_MAX} >> k)) return false;
    v = static_cast<uint32_t>(q << k | remainder);
    return true;
}

template <uint32_t kType>
std::optional<uint32_t> DecodeTyped(const uint8_t* input, uint32_t count, uint8_t* output,
                                    uint32_t len) {
    constexpr uint32_t width = detail::kRiceSampleBytes<kType>;
    const uint32_t n = len / width;
    if (n == 0 || count == 0) {
        if (n == 0 && count == 0) return 0;
        return std::nullopt;
    }
    const uint32_t k0 = input[0];
    if (k0 == 0) {
        // Raw: the mapped values at full width, high byte first.
        if (count - 1 != uint64_t{n} * width) return std::nullopt;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* p = input + 1 + size_t{i} * width;
            uint32_t v = p[0];
            for (uint32_t b = 1; b < width; ++b) v = v << 8 | p[b];
            StoreSample<kType>(output + size_t{i} * width, v);
        }
        return n * width;
    }
    if (k0 > 32) return std::nullopt;

    const detail::BitStream stream{input, count};
    // A mapped value of a narrow type has no more bits than the type.
    constexpr uint64_t kLargest = (uint64_t{1} << (8 * width)) - 1;
    uint32_t ring[16];
    uint32_t ringSum = 0;
    uint64_t pos = 8;
    for (uint32_t j = 0; j < n; ++j) {
        const uint32_t k = j < 16 ? k0 : (ringSum + 8) >> 4;
        TALLOX_DCHECK(k <= 32);
        uint32_t v;
        if (!ReadCode(stream, pos, k, v) || v > kLargest || pos > stream.Bits()) {
            return std::nullopt;
        }
        StoreSample<kType>(output + size_t{j} * width, v);
        const uint32_t bits = detail::BitLength(v);
        ringSum += bits - (j < 16 ? 0 : ring[j & 15]);
        ring[j & 15] = bits;
    }
    // The last code ends in the last byte.
    if ((pos + 7) / 8 != count) return std::nullopt;
    return n * width;
}

}  // namespace

std::optional<uint32_t> DecodeRice(const uint8_t* input, uint32_t count, uint8_t* output,
                                   uint32_t len, uint32_t sampleType) {
    std::optional<uint32_t> decoded;
    const bool supported = detail::ForRiceType(sampleType, [&]<uint32_t kType>() {
        decoded = DecodeTyped<kType>(input, count, output, len);
        return 1u;
    });
    return supported ? decoded : std::nullopt;
}

}  // namespace tallox
