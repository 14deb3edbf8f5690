// The token of one run, shared by every SIMD target of the RLE encoder.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tallox::detail {

// A run never spans more bytes than a 15-bit count field (L - 1) can hold.
constexpr uint32_t kMaxRleRun = 32768;

// L >= 2: E, count, b for four or more; E, L - 1 for two or three escape bytes; else b, L times.
inline void PutRleRun(uint8_t* output, size_t& pos, uint8_t b, uint32_t length, uint8_t escape) {
    if (length > 3) {
        const uint32_t n = length - 1;
        output[pos++] = escape;
        if (n >= 128) output[pos++] = static_cast<uint8_t>(0x80 | (n >> 8));
        output[pos++] = static_cast<uint8_t>(n & 0xFF);
        output[pos++] = b;
    } else if (b == escape) {
        output[pos++] = escape;
        output[pos++] = static_cast<uint8_t>(length - 1);
    } else {
        output[pos++] = b;
        output[pos++] = b;
        if (length == 3) output[pos++] = b;
    }
}

}  // namespace tallox::detail
