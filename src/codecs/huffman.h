// Static two-section entropy encoder: a pre-order code tree, then the code of every input byte,
// one bit stream packed most significant bit first. Codes come from top-down splits of the
// frequency-sorted values, each range cut at the first prefix whose count reaches half.
#pragma once
#include <cstdint>
#include <optional>

namespace tallox {

// Returns the bytes the stream touches, a partly written last byte included; 0 for an empty
// input, and 0 when a code would exceed 32 bits (the tree is then left written).
uint32_t EncodeHuffman(const uint8_t* input, uint8_t* output, uint32_t len);

// Decodes the `count` bytes of a stream into the `len` bytes it holds (the stream does not say
// how many) and returns len (0 for an empty stream and len 0). nullopt when the tree is
// malformed or deeper than 32, a code is not in the tree, the codes run past the stream or
// the stream goes on past the byte of the last code. Reads input[0, count) and writes
// output[0, len) only.
std::optional<uint32_t> DecodeHuffman(const uint8_t* input, uint32_t count, uint8_t* output,
                                      uint32_t len);

}  // namespace tallox
