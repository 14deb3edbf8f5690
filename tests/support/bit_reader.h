// Reads a bit stream packed most significant bit first, as the Huffman and Rice encoders write.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tallox::test {

struct BitReader {
    const uint8_t* data;
    size_t sizeBytes;
    uint64_t pos = 0;  // next bit to read
    bool overrun = false;

    uint32_t Bit() {
        if ((pos >> 3) >= sizeBytes) {
            overrun = true;
            return 0;
        }
        const uint32_t bit = (data[pos >> 3] >> (7 - (pos & 7))) & 1u;
        ++pos;
        return bit;
    }

    uint32_t Bits(uint32_t n) {
        uint64_t value = 0;
        for (uint32_t i = 0; i < n; ++i) value = (value << 1) | Bit();
        return static_cast<uint32_t>(value);
    }
};

}  // namespace tallox::test
