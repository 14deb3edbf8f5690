// LZ77 over chains of positions sharing their first two bytes, with no window: the same
// stream and acceptance rule as EncodeLz77.
#pragma once
#include <cstdint>

namespace tallox {

// `workTable` holds 65,536 + len entries (head table, then links); its content on entry does
// not matter and it is left as built. Returns the output count; 0 for an empty input (the work
// table is then untouched).
uint32_t EncodeLz77Fast(const uint8_t* input, uint8_t* output, uint32_t len, int32_t* workTable);

}  // namespace tallox
