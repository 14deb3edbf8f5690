// The reference walk of EncodeLz77, for the tests and benchmarks only.
#pragma once
#include <cstdint>

namespace tallox::detail {

// EncodeLz77 with the window walked one distance at a time and every candidate compared byte
// by byte, without SIMD: the reference that the dispatched search must match byte for byte,
// measured beside it.
uint32_t EncodeLz77Scalar(const uint8_t* input, uint8_t* output, uint32_t len);

}  // namespace tallox::detail
