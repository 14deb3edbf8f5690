// Static two-section entropy encoder: a pre-order code tree, then the code of every input byte,
// one bit stream packed most significant bit first. Codes come from top-down splits of the
// frequency-sorted values, each range cut at the first prefix whose count reaches half.
#pragma once
#include <cstdint>

namespace tallox {

// Returns the bytes the stream touches, a partly written last byte included; 0 for an empty
// input, and 0 when a code would exceed 32 bits (the tree is then left written).
uint32_t EncodeHuffman(const uint8_t* input, uint8_t* output, uint32_t len);

}  // namespace tallox
