// The literal stretches of the RLE and LZ77 streams: every byte but the escape byte stands for
// itself, so the decoders copy all of them up to the next escape byte at once.
#pragma once
#include <cstdint>
#include <cstring>

namespace tallox::detail {

// Copies input[at, count) up to the next escape byte to output + out, and advances both;
// `at` then is the escape byte's position, or count. False, with nothing copied, when the
// bytes do not fit in the capacity.
inline bool CopyLiterals(const uint8_t* input, uint32_t& at, uint32_t count, uint8_t escape,
                         uint8_t* output, uint32_t& out, uint32_t capacity) {
    const void* found = std::memchr(input + at, escape, count - at);
    const uint32_t stop = found == nullptr
                              ? count
                              : static_cast<uint32_t>(static_cast<const uint8_t*>(found) - input);
    const uint32_t n = stop - at;
    if (n > capacity - out) return false;
    std::memcpy(output + out, input + at, n);
    at = stop;
    out += n;
    return true;
}

}  // namespace tallox::detail
