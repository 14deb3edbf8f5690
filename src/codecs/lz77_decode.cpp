#include "codecs/lz77_decode.h"

#include <cstring>

#include "codecs/detail/escape_literals.h"

namespace tallox {

namespace {

// One group number at input[at]; advances `at`. False when it is cut off, longer than 5 bytes
// or above 32 bits.
inline bool ReadGroupNumber(const uint8_t* input, uint32_t& at, uint32_t count, uint32_t& value) {
    uint64_t v = 0;
    for (uint32_t groups = 0; groups < 5; ++groups) {
        if (at == count) return false;
        const uint8_t byte = input[at++];
        v = v << 7 | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            value = static_cast<uint32_t>(v);
            return v <= UINT32_MAX;
        }
    }
    return false;
}

// Copies `length` bytes from `distance` bytes back to dst. Where the source overlaps the
// destination (distance < length), the bytes copied so far repeat with period `distance`, so
// each step copies what lies wholly behind it, twice as much as the step before.
inline void CopyMatch(uint8_t* dst, uint32_t distance, uint32_t length) {
    const uint8_t* const src = dst - distance;
    uint32_t span = distance;
    while (length > span) {
        std::memcpy(dst, src, span);
        dst += span;
        length -= span;
        span += span;
    }
    std::memcpy(dst, src, length);
}

}  // namespace

std::optional<uint32_t> DecodeLz77(const uint8_t* input, uint32_t count, uint8_t* output,
                                   uint32_t capacity) {
    return detail::DecodeEscapedStream(
        input, count, output, capacity, [&](uint8_t escape, uint32_t& at, uint32_t& out) {
            if (count - at < 2) return false;
            if (input[at + 1] == 0x00) {  // the escape value as a literal
                if (out == capacity) return false;
                output[out++] = escape;
                at += 2;
                return true;
            }
            ++at;
            uint32_t length;
            uint32_t distance;
            if (!ReadGroupNumber(input, at, count, length) ||
                !ReadGroupNumber(input, at, count, distance)) {
                return false;
            }
            if (length == 0 || distance == 0 || distance > out || length > capacity - out) {
                return false;
            }
            CopyMatch(output + out, distance, length);
            out += length;
            return true;
        });
}

}  // namespace tallox
