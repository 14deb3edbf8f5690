// The streams of RLE and LZ77: byte 0 is the escape byte, every other byte but the escape byte
// stands for itself, and the escape byte starts a token. The decoders copy each stretch of
// literals up to the next escape byte at once.
#pragma once
#include <cstdint>
#include <cstring>
#include <optional>

#include "codecs/detail/check.h"

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

// Decodes a whole stream: `token(escape, at, out)` decodes the token whose escape byte is at
// input[at] into output + out, advances both, and returns false when the token is malformed
// or its bytes do not fit. Returns the decoded length, 0 for an empty stream.
template <typename Token>
std::optional<uint32_t> DecodeEscapedStream(const uint8_t* input, uint32_t count, uint8_t* output,
                                            uint32_t capacity, Token&& token) {
    if (count == 0) return 0;
    const uint8_t escape = input[0];
    uint32_t at = 1;
    uint32_t out = 0;
    for (;;) {
        if (!CopyLiterals(input, at, count, escape, output, out, capacity)) return std::nullopt;
        if (at == count) return out;
        TALLOX_DCHECK(input[at] == escape);
        if (!token(escape, at, out)) return std::nullopt;
    }
}

}  // namespace tallox::detail
