// Whole-word access to the bit streams that Huffman and Rice pack most significant bit first:
// the first stream byte is the top byte of the word, on any machine.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

namespace tallox::detail {

inline void StoreBigEndian64(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

inline uint64_t LoadBigEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

}  // namespace tallox::detail
