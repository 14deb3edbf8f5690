// Reading the bit streams of the Huffman and Rice decoders, never past the stream's last byte.
#pragma once
#include <cstdint>

#include "codecs/detail/big_endian.h"

namespace tallox::detail {

struct BitStream {
    const uint8_t* data;
    uint32_t count;  // bytes

    uint64_t Bits() const { return 8 * uint64_t{count}; }

    // True when one load at bit `pos` stays inside the stream: Peek then holds at least 57
    // stream bits.
    bool WholeWordAt(uint64_t pos) const { return (pos >> 3) + 8 <= count; }

    // The 64 bits from bit `pos` on, the next one on top; bits past the stream read as 0.
    uint64_t Peek(uint64_t pos) const {
        if (WholeWordAt(pos)) return LoadBigEndian64(data + (pos >> 3)) << (pos & 7);
        const uint64_t byte = pos >> 3;
        uint64_t word = 0;
        for (uint32_t k = 0; k < 8 && byte + k < count; ++k) {
            word |= uint64_t{data[byte + k]} << (56 - 8 * k);
        }
        return word << (pos & 7);
    }
};

}  // namespace tallox::detail
