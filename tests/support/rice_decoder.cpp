#include "support/rice_decoder.h"

#include "support/bit_reader.h"

namespace tallox::test {

namespace {

uint32_t BitLength(uint32_t v) {
    uint32_t bits = 0;
    while (v != 0) {
        ++bits;
        v >>= 1;
    }
    return bits;
}

bool IsSigned(uint32_t sampleType) { return sampleType == 1 || sampleType == 3 || sampleType == 7; }

// One code with parameter k; nullopt when the prefix is too long or the value exceeds 32 bits.
std::optional<uint32_t> ReadCode(BitReader& reader, uint32_t k) {
    uint32_t ones = 0;
    while (reader.Bit() == 1) {
        if (++ones > 40 || reader.overrun) return std::nullopt;
    }
    uint64_t q = ones;
    if (ones >= 9) {
        const uint32_t bits = ones - 8;
        q = 8 + (uint64_t{1} << (bits - 1)) + reader.Bits(bits - 1);
    }
    const uint64_t v = (q << k) | (k == 0 ? 0 : reader.Bits(k));
    if (reader.overrun || v > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<uint32_t>(v);
}

}  // namespace

uint32_t RiceSampleWidth(uint32_t sampleType) {
    switch (sampleType) {
        case 1:
        case 2:
            return 1;
        case 3:
        case 4:
            return 2;
        case 7:
        case 8:
            return 4;
        default:
            return 0;
    }
}

std::optional<RiceDecoded> DecodeRice(const uint8_t* data, size_t count, uint32_t len,
                                      uint32_t sampleType) {
    const uint32_t width = RiceSampleWidth(sampleType);
    if (width == 0 || count == 0) return std::nullopt;
    const uint32_t n = len / width;
    RiceDecoded out;
    BitReader reader{data, count};
    out.k0 = reader.Bits(8);
    out.raw = out.k0 == 0;
    if (out.k0 > 32) return std::nullopt;
    uint32_t ring[16] = {};
    for (uint32_t j = 0; j < n; ++j) {
        if (out.raw) {
            out.values.push_back(reader.Bits(8 * width));
            continue;
        }
        uint32_t k = out.k0;
        if (j >= 16) {
            uint32_t sum = 0;
            for (uint32_t e : ring) sum += e;
            k = (sum + 8) / 16;
        }
        const std::optional<uint32_t> v = ReadCode(reader, k);
        if (!v) return std::nullopt;
        out.values.push_back(*v);
        ring[j % 16] = BitLength(*v);
    }
    if (reader.overrun) return std::nullopt;
    out.bits = reader.pos;
    return out;
}

std::vector<uint32_t> MappedSamples(const std::vector<uint8_t>& input, uint32_t sampleType) {
    const uint32_t width = RiceSampleWidth(sampleType);
    std::vector<uint32_t> values;
    for (size_t at = 0; width != 0 && at + width <= input.size(); at += width) {
        uint32_t x = 0;
        for (uint32_t b = 0; b < width; ++b) x |= static_cast<uint32_t>(input[at + b]) << (8 * b);
        if (IsSigned(sampleType)) {
            const uint32_t bits = 8 * width;
            const uint32_t sign = (x >> (bits - 1)) & 1u;
            const int64_t value = static_cast<int64_t>(x) - (sign ? (int64_t{1} << bits) : 0);
            x = value >= 0 ? static_cast<uint32_t>(2 * value)
                           : static_cast<uint32_t>(-2 * value - 1);
        }
        values.push_back(x);
    }
    return values;
}

}  // namespace tallox::test
