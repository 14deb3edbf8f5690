// The decoder of the stream that EncodeLz77 and EncodeLz77Fast both write: escape byte E,
// literals (E as E, 0x00) and match tokens E, L, D, the length and distance as 7-bit group
// numbers, most significant group first, bit 7 set on every byte but the last.
#pragma once
#include <cstdint>
#include <optional>

namespace tallox {

// Decodes the `count` bytes of a stream into output, which holds `capacity` bytes, and returns
// the decoded length (0 for an empty stream). nullopt when the stream is malformed (a token
// cut off; a group number of more than 5 bytes or above 32 bits; a length or distance of 0; a
// distance reaching before the first byte) or the bytes do not fit in the capacity. A match
// may overlap the bytes it copies (D < L). Reads input[0, count) and writes output[0,
// capacity) only.
std::optional<uint32_t> DecodeLz77(const uint8_t* input, uint32_t count, uint8_t* output,
                                   uint32_t capacity);

}  // namespace tallox
