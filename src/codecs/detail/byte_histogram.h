// Byte-value histogram shared by the escape byte and the Huffman frequency table.
#pragma once
#include <cstdint>

namespace tallox::detail {

// counts[v] = occurrences of v in input[0..len). Counts wrap modulo 2^32 like the 32-bit
// counters they stand for.
void CountByteValues(const uint8_t* input, uint32_t len, uint32_t counts[256]);

}  // namespace tallox::detail
