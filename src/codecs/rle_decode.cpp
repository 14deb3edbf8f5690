#include <cstring>

#include "codecs/detail/check.h"
#include "codecs/detail/escape_literals.h"
#include "codecs/rle.h"

namespace tallox {

std::optional<uint32_t> DecodeRle(const uint8_t* input, uint32_t count, uint8_t* output,
                                  uint32_t capacity) {
    if (count == 0) return 0;
    const uint8_t escape = input[0];
    uint32_t at = 1;
    uint32_t out = 0;
    for (;;) {
        if (!detail::CopyLiterals(input, at, count, escape, output, out, capacity)) {
            return std::nullopt;
        }
        if (at == count) return out;
        // A token: E, then c <= 2 for c + 1 escape bytes, or a count L - 1 of one byte
        // (below 0x80) or two (15 bits) and the value.
        TALLOX_DCHECK(input[at] == escape);
        const uint32_t left = count - at;
        if (left < 2) return std::nullopt;
        const uint32_t c = input[at + 1];
        uint32_t length;
        uint8_t value;
        if (c <= 2) {
            length = c + 1;
            value = escape;
            at += 2;
        } else if (c < 0x80) {
            if (left < 3) return std::nullopt;
            length = c + 1;
            value = input[at + 2];
            at += 3;
        } else {
            if (left < 4) return std::nullopt;
            length = ((c & 0x7F) << 8 | input[at + 2]) + 1;
            value = input[at + 3];
            at += 4;
        }
        if (length > capacity - out) return std::nullopt;
        std::memset(output + out, value, length);
        out += length;
    }
}

}  // namespace tallox
