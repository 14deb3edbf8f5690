// LZ77 with an exhaustive window search: every distance from 3 to min(pos, 100,000).
// Stream: escape byte, literals (E as E, 0x00) and tokens E, L, D with 7-bit group numbers.
#pragma once
#include <cstdint>

namespace tallox {

// Returns the output count; 0 for an empty input. Never writes more than 1 + len + len / 256.
uint32_t EncodeLz77(const uint8_t* input, uint8_t* output, uint32_t len);

}  // namespace tallox
