// Byte-oriented run-length encoder. Output byte 0 is the escape byte E; runs of four or more
// equal bytes become E, a one- or two-byte count (L - 1) and the value.
#pragma once
#include <cstdint>

namespace tallox {

// Returns the output count, byte 0 included; 0 for an empty input (nothing written).
// Never writes more than 1 + len + len / 256 bytes.
uint32_t EncodeRle(const uint8_t* input, uint8_t* output, uint32_t len);

}  // namespace tallox
