// The size of the one stream the RLE encoder must write for an input, worked out from the
// input alone.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tallox::test {

// Byte 0, then per stretch of equal bytes: its runs of 32,768 as four-byte tokens, and the
// rest as a token of 3 bytes (4 to 128) or 4 (above), the escape value's 1 to 3 as E, L - 1,
// any other value's 1 to 3 as the bytes themselves. len >= 1.
inline uint64_t RleStreamSize(const uint8_t* input, size_t len, uint8_t escape) {
    uint64_t size = 1;
    for (size_t i = 0; i < len;) {
        size_t end = i + 1;
        while (end < len && input[end] == input[i]) ++end;
        const uint64_t stretch = end - i;
        size += 4 * (stretch / 32768);
        const uint64_t rest = stretch % 32768;
        if (rest >= 4) {
            size += rest <= 128 ? 3 : 4;
        } else if (rest > 0) {
            size += input[i] == escape ? 2 : rest;
        }
        i = end;
    }
    return size;
}

}  // namespace tallox::test
