// The escape byte shared by RLE, LZ77 and LZ77 Fast: the least frequent byte value of the
// input, the smallest value among equals. An input byte equal to it is written as E, 0x00.
#pragma once
#include <cstdint>

namespace tallox {

// `len` >= 1. Reads the input only.
uint8_t SelectEscapeByte(const uint8_t* input, uint32_t len);

}  // namespace tallox
